#include "support/temp_dir.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zel-test-XXXXXX").string();
#if defined(_WIN32)
    // mingw has no mkdtemp: a unique name from the clock and a counter will do.
    static int counter = 0;
    pattern.resize(pattern.size() - 6);
    pattern += std::to_string(std::rand()) + "-" + std::to_string(++counter);
    fs::create_directories(pattern);
    path_ = pattern;
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
