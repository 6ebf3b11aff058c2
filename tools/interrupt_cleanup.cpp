#include "tools/interrupt_cleanup.h"

#include "install/interrupted_run.h"
#include "platform/interrupts.h"
#include "tools/os_services.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace {

struct Registry {
    std::mutex mutex;
    std::multimap<std::string, std::function<void()>> paths;  // with what releases them
    std::multiset<int64_t> children;
    std::atomic<bool> interrupted{false};
    RunProgress* imageRun = nullptr;
    std::string imageName;
};

// The interrupted run may still be writing into a folder while it goes: what
// it adds meanwhile is removed on the next try (it makes no new folder whose
// parent is gone, so this ends).
bool removeWhole(const std::string& path) {
    constexpr int TRIES = 50;
    for (int i = 0; i < TRIES; ++i) {
        std::error_code error, gone;
        std::filesystem::remove_all(path, error);
        if (!error && !std::filesystem::exists(std::filesystem::symlink_status(path, gone)))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Registry& registry() {
    static Registry instance;
    return instance;
}

// On the interrupt thread. The registry stays locked until the process ends,
// so the interrupted run cannot register anything new meanwhile.
void cleanUpAndEnd(int exitStatus) {
    Registry& r = registry();
    r.mutex.lock();
    r.interrupted = true;
    for (int64_t pid : r.children) stopProcess(pid);
    // The drive, the volumes and the private mounts of an installation under way.
    const std::string runLine = giveBackInterruptedRun();
    // A run on an image stops at its next report and writes no more.
    std::string imageLine;
    if (r.imageRun != nullptr) {
        imageLine =
            r.imageRun->started()
                ? "Interrupted" + r.imageRun->howFar("the image " + r.imageName).substr(1) + "."
                : "Interrupted before anything was written; the image " + r.imageName +
                      " is unchanged.";
        r.imageRun->halt();
    }
    for (const auto& [path, release] : r.paths) {
        if (release) release();
        // The interrupted run may have removed it itself meanwhile.
        std::fprintf(stderr, removeWhole(path) ? "Interrupted: %s has been removed.\n"
                                               : "Interrupted: %s could not be removed.\n",
                     path.c_str());
    }
    if (!runLine.empty()) std::fprintf(stderr, "%s\n", runLine.c_str());
    if (!imageLine.empty()) std::fprintf(stderr, "%s\n", imageLine.c_str());
    std::fflush(stderr);
    std::_Exit(exitStatus);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
    platform::onInterrupt(cleanUpAndEnd);
}

InterruptCleanup::~InterruptCleanup() {
    platform::restoreInterruptDefaults();
}

InterruptPath::InterruptPath(const std::string& path, std::function<void()> release) : path_(path) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().paths.emplace(path_, std::move(release));
}

InterruptPath::InterruptPath(const std::string& path, Locked) : path_(path) {
    registry().paths.emplace(path_, std::function<void()>());
}

std::unique_ptr<InterruptPath> makeInterruptPath(const std::function<std::string()>& make) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    const std::string path = make();
    if (path.empty()) return nullptr;
    return std::make_unique<InterruptPath>(path, InterruptPath::Locked{});
}

InterruptImageRun::InterruptImageRun(RunProgress& progress, const std::string& imageName) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().imageRun = &progress;
    registry().imageName = imageName;
}

InterruptImageRun::~InterruptImageRun() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().imageRun = nullptr;
}

InterruptPath::~InterruptPath() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().paths.erase(registry().paths.find(path_));
}

InterruptChild::InterruptChild(int64_t pid) : pid_(pid) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().children.insert(pid_);
}

InterruptChild::~InterruptChild() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().children.erase(registry().children.find(pid_));
}

void waitIfInterrupted() {
    Registry& r = registry();
    if (!r.interrupted) return;
    // The handler holds the registry until it ends the process.
    r.mutex.lock();
    r.mutex.unlock();
}
