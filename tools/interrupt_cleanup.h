#pragma once
// What a run has created and must not leave behind when it is interrupted:
// files, folders and child processes, registered while they exist. While an
// InterruptCleanup lives, SIGINT/SIGTERM/SIGHUP (on Windows Ctrl-C, closing the
// console, log-off) stop the registered children, give back what an
// installation under way holds (install/interrupted_run.h), remove the
// registered paths, say so on standard error and end the process with 128 +
// the signal number.

#include <cstdint>
#include <functional>
#include <string>

class InterruptCleanup {
public:
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;
};

// A file or folder (removed with its contents) of this run, for as long as the
// object lives. `release`, when given, runs before the removal on the
// interrupt's thread: Windows removes no file that this process holds open.
class InterruptPath {
public:
    explicit InterruptPath(const std::string& path, std::function<void()> release = {});
    ~InterruptPath();
    InterruptPath(const InterruptPath&) = delete;
    InterruptPath& operator=(const InterruptPath&) = delete;

private:
    std::string path_;
};

// A running child process of this run, for as long as the object lives.
class InterruptChild {
public:
    explicit InterruptChild(int64_t pid);
    ~InterruptChild();
    InterruptChild(const InterruptChild&) = delete;
    InterruptChild& operator=(const InterruptChild&) = delete;

private:
    int64_t pid_;
};

// For a run that sees one of its steps fail: when the failure comes from an
// interrupt being handled (its child stopped, its files removed), waits for
// the handler to end the process rather than report the failure.
void waitIfInterrupted();
