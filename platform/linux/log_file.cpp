// Log files through descriptors: O_NOFOLLOW on every open, O_EXCL for a new
// file, the type checked on the descriptor itself (fstat), the hand-over to
// the invoking user with fchown on that descriptor. A user's folder that a
// root run writes in is a way to root; nothing here follows a name twice.
#include "platform/log_file.h"

#include "platform/linux/invoking_user.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

int descriptor(intptr_t handle) {
    return static_cast<int>(handle);
}

std::string systemReason(int error) {
    return std::strerror(error);
}

// What a file of this mode is, for a refusal; empty for a regular file.
std::string notARegularFile(mode_t mode) {
    if (S_ISREG(mode)) return std::string();
    if (S_ISLNK(mode)) return "is a symbolic link";
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISFIFO(mode)) return "is a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
    if (S_ISSOCK(mode)) return "is a socket";
    return "is not a regular file";
}

// Gives the new file or folder `fd`, made in a folder of mode `folder`, to
// the user a root run acts for, where that folder is the user's. Otherwise
// `notice` says that it stays root's.
void handOver(int fd, const struct stat& folder, const std::string& name, std::string& notice) {
    InvokingUser user;
    if (!invokingUser(user)) return;
    if (S_ISDIR(folder.st_mode) && folder.st_uid == user.uid) {
        if (::fchown(fd, user.uid, user.gid) == 0) return;
        notice = name + " stays root's: it cannot be given to user " + std::to_string(user.uid) +
                 " (" + systemReason(errno) + ").";
        return;
    }
    notice = name + " stays root's: its folder does not belong to user " +
             std::to_string(user.uid) + ".";
}

bool writeAll(int fd, const std::string& bytes, std::string& why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            why = written < 0 ? systemReason(errno) : "nothing was written";
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Opens an existing regular file for writing and empties it; the file
// checked before is the one opened (no link, no swap in between).
LogOpen openExisting(const std::filesystem::path& file, const struct stat& seen, LogFile& log,
                     std::string& why) {
    // O_NONBLOCK: a pipe put in its place must not hang the open.
    const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) {
            why = "is a symbolic link";
            return LogOpen::Refused;
        }
        why = systemReason(errno);
        return errno == ENXIO ? LogOpen::Refused : LogOpen::Failed;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != seen.st_dev ||
        opened.st_ino != seen.st_ino) {
        why = S_ISREG(opened.st_mode) ? "changed while it was opened" : notARegularFile(opened.st_mode);
        ::close(fd);
        return LogOpen::Refused;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
        why = systemReason(errno);
        ::close(fd);
        return LogOpen::Failed;
    }
    log = LogFile(fd);
    return LogOpen::Opened;
}

}  // namespace

bool LogFile::append(const std::string& bytes, std::string& why) {
    if (!isOpen()) {
        why = "the log is not open";
        return false;
    }
    return writeAll(descriptor(handle_), bytes, why);
}

bool LogFile::replace(const std::string& bytes, std::string& why) {
    if (!isOpen()) {
        why = "the log is not open";
        return false;
    }
    const int fd = descriptor(handle_);
    if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0) {
        why = systemReason(errno);
        return false;
    }
    return writeAll(fd, bytes, why);
}

void LogFile::close() {
    if (handle_ == CLOSED) return;
    ::close(descriptor(handle_));
    handle_ = CLOSED;
}

LogOpen openNamedLog(const std::filesystem::path& file, LogFile& log, std::string& why,
                     std::string& notice) {
    // Two tries: a file made or removed by someone else between the look and
    // the open is looked at again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat seen {};
        if (::lstat(file.c_str(), &seen) == 0) {
            why = notARegularFile(seen.st_mode);
            if (!why.empty()) return LogOpen::Refused;
            const LogOpen opened = openExisting(file, seen, log, why);
            if (opened == LogOpen::Failed && why == systemReason(ENOENT)) continue;
            return opened;
        }
        if (errno != ENOENT) {
            why = systemReason(errno);
            return LogOpen::Failed;
        }
        const int fd =
            ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            why = systemReason(errno);
            return LogOpen::Failed;
        }
        const std::filesystem::path parent = file.has_parent_path() ? file.parent_path() : ".";
        struct stat folder {};
        if (::lstat(parent.c_str(), &folder) != 0) folder.st_mode = 0;
        handOver(fd, folder, "The log " + file.string(), notice);
        log = LogFile(fd);
        return LogOpen::Opened;
    }
    why = "changed while it was opened";
    return LogOpen::Refused;
}

LogFolder::~LogFolder() {
    if (handle_ != LogFile::CLOSED) ::close(descriptor(handle_));
}

bool LogFolder::open(const std::filesystem::path& folder, std::string& why) {
    path_ = folder;
    // The levels that are missing, from the top down.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty(); at = at.parent_path()) {
        struct stat seen {};
        if (::lstat(at.c_str(), &seen) == 0) break;
        missing.insert(missing.begin(), at);
        if (at == at.parent_path()) break;
    }
    std::string unused;
    for (const std::filesystem::path& level : missing) {
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) break;
        const int fd = ::open(level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) break;
        struct stat parent {};
        if (::stat(level.parent_path().c_str(), &parent) == 0) handOver(fd, parent, level.string(), unused);
        ::close(fd);
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat seen {};
        why = (error == ELOOP || error == ENOTDIR) && ::lstat(folder.c_str(), &seen) == 0
                  ? notARegularFile(seen.st_mode)
                  : systemReason(error);
        if (why.empty()) why = "is not a folder";
        return false;
    }
    handle_ = fd;
    return true;
}

std::vector<std::string> LogFolder::regularFiles() const {
    std::vector<std::string> names;
    if (handle_ == LogFile::CLOSED) return names;
    const int listed = ::openat(descriptor(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return names;
    DIR* entries = ::fdopendir(listed);
    if (entries == nullptr) {
        ::close(listed);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) {
        struct stat seen {};
        if (::fstatat(descriptor(handle_), entry->d_name, &seen, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(seen.st_mode))
            names.push_back(entry->d_name);
    }
    ::closedir(entries);
    return names;
}

void LogFolder::removeRegularFile(const std::string& name) const {
    if (handle_ == LogFile::CLOSED || name.find('/') != std::string::npos) return;
    struct stat seen {};
    // A link put in the file's place between the look and the removal is
    // itself removed, never what it points at.
    if (::fstatat(descriptor(handle_), name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(seen.st_mode))
        ::unlinkat(descriptor(handle_), name.c_str(), 0);
}

LogFolder::Create LogFolder::createFile(const std::string& name, LogFile& log, std::string& why,
                                        std::string& notice) const {
    if (handle_ == LogFile::CLOSED || name.find('/') != std::string::npos) {
        why = "no folder";
        return Create::Failed;
    }
    const int fd = ::openat(descriptor(handle_), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return Create::Exists;
        why = systemReason(errno);
        return Create::Failed;
    }
    struct stat folder {};
    if (::fstat(descriptor(handle_), &folder) != 0) folder.st_mode = 0;
    handOver(fd, folder, "The log " + (path_ / name).string(), notice);
    log = LogFile(fd);
    return Create::Made;
}

}  // namespace platform
