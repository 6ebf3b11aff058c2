#pragma once
// What a run has created and must not leave behind when it is interrupted:
// files, folders and child processes, registered while they exist. While an
// InterruptCleanup lives, SIGINT/SIGTERM/SIGHUP (on Windows Ctrl-C, closing the
// console, log-off) stop the registered children, give back what an
// installation under way holds (install/interrupted_run.h), remove the
// registered paths, say so on standard error and end the process with 128 +
// the signal number.

#include "install/run_progress.h"

#include <cstdint>
#include <functional>
#include <memory>
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
    // Registered already, under the registry's lock.
    struct Locked {};
    InterruptPath(const std::string& path, Locked);
    ~InterruptPath();
    InterruptPath(const InterruptPath&) = delete;
    InterruptPath& operator=(const InterruptPath&) = delete;

private:
    std::string path_;
};

// A folder made by `make` (which gives its path, or an empty one), registered
// as soon as it exists: an interrupt that comes while it is being made waits
// for it and removes it.
std::unique_ptr<InterruptPath> makeInterruptPath(const std::function<std::string()>& make);

// A run on an image file, for as long as the object lives: an interrupt ends
// with how far it got, "Interrupted at "<stage>" (N%); the image c.img is
// incomplete and must be rebuilt.", or that nothing was written yet.
class InterruptImageRun {
public:
    InterruptImageRun(RunProgress& progress, const std::string& imageName);
    ~InterruptImageRun();
    InterruptImageRun(const InterruptImageRun&) = delete;
    InterruptImageRun& operator=(const InterruptImageRun&) = delete;
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
