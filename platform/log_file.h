#pragma once
// The files of the support log, opened so that a run never writes through
// something it does not own: no link is followed, only regular files are
// written, and a file goes to the user a root run acts for (pkexec, sudo)
// only when this run made it, through its own handle, in a folder that is
// that user's. One implementation per OS.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// One open log file. Writes go through the handle it was opened with, never
// through its name again.
class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&& other) noexcept;

    bool isOpen() const { return handle_ != CLOSED; }
    // Appends `bytes`; false, with the system's reason in `why`, when the
    // file takes them not (or not whole).
    bool append(const std::string& bytes, std::string& why);
    // Empties the file and writes `bytes` in its place.
    bool replace(const std::string& bytes, std::string& why);
    void close();

    // For the implementations: the OS handle (a descriptor, a HANDLE).
    static constexpr intptr_t CLOSED = -1;
    explicit LogFile(intptr_t handle) : handle_(handle) {}

private:
    intptr_t handle_ = CLOSED;
};

enum class LogOpen {
    Opened,
    Refused,  // a link, a folder, a pipe, a device: never written
    Failed,   // the system refused (no such folder, no rights, ...)
};

// A file the user named for the log: a new file, or an existing regular file
// that is emptied. `why` gives the reason of a refusal or failure ("is a
// symbolic link", "Permission denied"). `notice` is set when the file is
// kept by root although the run acts for a user.
LogOpen openNamedLog(const std::filesystem::path& file, LogFile& log, std::string& why,
                     std::string& notice);

// The program's own folder of logs, made where it is missing. Every level it
// makes goes to the user a root run acts for where the level above is that
// user's. The folder itself must be a real folder, not a link to one; the
// folder's entries are reached through the handle opened here.
class LogFolder {
public:
    LogFolder() = default;
    ~LogFolder();
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    bool open(const std::filesystem::path& folder, std::string& why);
    const std::filesystem::path& path() const { return path_; }

    // The names of the regular files in the folder (no links, no folders).
    std::vector<std::string> regularFiles() const;
    // Removes the regular file `name`; a link or anything else stays.
    void removeRegularFile(const std::string& name) const;

    enum class Create { Made, Exists, Failed };
    // A new file `name`, never an existing one or a link. It goes to the
    // user a root run acts for where the folder is that user's; `notice`
    // says so where it is not.
    Create createFile(const std::string& name, LogFile& log, std::string& why,
                      std::string& notice) const;

private:
    intptr_t handle_ = LogFile::CLOSED;
    std::filesystem::path path_;
};

}  // namespace platform
