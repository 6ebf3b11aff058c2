#pragma once
// Runs a scope in another working directory and goes back afterwards.

#include <filesystem>
#include <string>

class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};
