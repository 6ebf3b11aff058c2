#include "tools/interrupt_cleanup.h"

#include "install/interrupted_run.h"
#include "platform/interrupts.h"
#include "tools/os_services.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

namespace {

struct Registry {
    std::mutex mutex;
    std::multimap<std::string, std::function<void()>> paths;  // with what releases them
    std::multiset<int64_t> children;
    std::atomic<bool> interrupted{false};
};

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
    for (const auto& [path, release] : r.paths) {
        if (release) release();
        std::error_code error;
        // The interrupted run may have removed it itself meanwhile.
        std::filesystem::remove_all(path, error);
        const bool removed =
            !error && !std::filesystem::exists(std::filesystem::symlink_status(path, error));
        std::fprintf(stderr, removed ? "Interrupted: %s has been removed.\n"
                                     : "Interrupted: %s could not be removed.\n",
                     path.c_str());
    }
    if (!runLine.empty()) std::fprintf(stderr, "%s\n", runLine.c_str());
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
