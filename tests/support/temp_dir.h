#pragma once
// A temporary folder removed with everything in it when the object goes.

#include <cstdint>
#include <functional>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Creates (or truncates) a sparse file of `bytes` bytes.
bool makeSparseFile(const std::string& path, uint64_t bytes);
// Whole file contents, or empty on failure.
std::string readWholeFile(const std::string& path);
bool writeWholeFile(const std::string& path, const std::string& data);
// Runs a shell command; returns its exit status and puts stdout+stderr in `output`.
int runCommand(const std::string& command, std::string* output = nullptr);
// True when an external program is on the PATH.
bool haveProgram(const std::string& name);

// Takes the write permission of the file `path` away and runs `body` as a user
// it then applies to (as root: on a thread whose file-system user is nobody,
// so every folder on the way must be open to others), then gives it back.
// False, with `body` not run, where the permission cannot be taken away
// (wine, running as root, ignores the read-only attribute).
bool runWithoutWriteAccess(const std::string& path, const std::function<void()>& body);
