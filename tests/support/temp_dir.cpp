#include "support/temp_dir.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/fsuid.h>
#include <thread>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zel-test-XXXXXX").string();
#if defined(_WIN32)
    // mingw has no mkdtemp: try fresh random names until one can be created, so
    // that test processes running side by side never share a folder.
    pattern.resize(pattern.size() - 6);
    std::random_device random;
    for (;;) {
        std::string candidate = pattern + std::to_string(_getpid()) + "-" + std::to_string(random()) +
                                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            break;
        }
    }
#else
    std::array<char, 4096> name{};
    pattern.copy(name.data(), name.size() - 1);
    if (mkdtemp(name.data()) == nullptr) std::abort();
    path_ = name.data();
#endif
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool makeSparseFile(const std::string& path, uint64_t bytes) {
    std::error_code error;
    { std::ofstream create(path, std::ios::binary | std::ios::trunc); if (!create) return false; }
    fs::resize_file(path, bytes, error);
    return !error;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool writeWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

int runCommand(const std::string& command, std::string* output) {
    std::string full = command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> chunk{};
    std::string text;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
    int status = pclose(pipe);
    if (output != nullptr) *output = text;
#if defined(_WIN32)
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null") == 0;
}

bool runWithoutWriteAccess(const std::string& path, const std::function<void()>& body) {
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(path, readOnly);
#if defined(_WIN32)
    // The read-only attribute holds for administrators too, where it is honoured.
    if (std::FILE* file = std::fopen(path.c_str(), "r+b")) {
        std::fclose(file);
        fs::permissions(path, readOnly | fs::perms::owner_write);
        return false;
    }
    body();
#else
    if (::geteuid() != 0) {
        body();
    } else {
        // The file-system user is per thread: the rest of the process keeps root.
        std::thread unprivileged([&body] {
            ::setfsgid(65534);
            ::setfsuid(65534);
            body();
        });
        unprivileged.join();
    }
#endif
    fs::permissions(path, readOnly | fs::perms::owner_write);
    return true;
}
