#include "install/interrupted_run.h"

#include "disk/raw_disk.h"
#include "platform/interrupts.h"
#include "util/debug.h"

#include <cstdlib>
#include <mutex>

namespace {

struct Holdings {
    std::mutex mutex;
    const RunProgress* progress = nullptr;
    platform::Handle drive = platform::INVALID_HANDLE_VALUE;
    KeptVolumes* volumes = nullptr;
};

Holdings& holdings() {
    static Holdings instance;
    return instance;
}

void giveBackAndEnd(int exitStatus) {
    const std::string line = giveBackInterruptedRun();
    if (!line.empty()) debugPrint("%s\n", line.c_str());
    std::_Exit(exitStatus);
}

}  // namespace

InterruptibleRun::InterruptibleRun(const RunProgress& progress) {
    std::lock_guard<std::mutex> lock(holdings().mutex);
    holdings().progress = &progress;
}

InterruptibleRun::~InterruptibleRun() {
    std::lock_guard<std::mutex> lock(holdings().mutex);
    holdings().progress = nullptr;
}

void holdRunDrive(platform::Handle drive) {
    std::lock_guard<std::mutex> lock(holdings().mutex);
    holdings().drive = drive;
}

void dropRunDrive() {
    holdRunDrive(platform::INVALID_HANDLE_VALUE);
}

void holdRunVolumes(KeptVolumes* volumes) {
    std::lock_guard<std::mutex> lock(holdings().mutex);
    holdings().volumes = volumes;
}

void dropRunVolumes() {
    holdRunVolumes(nullptr);
}

std::string giveBackInterruptedRun() {
    Holdings& held = holdings();
    held.mutex.lock();  // never unlocked: the process ends next
    // The drive first, so that the OS reads whatever partition table the card
    // has now before the volumes come back.
    if (held.drive != platform::INVALID_HANDLE_VALUE) releaseDisk(held.drive);
    if (held.volumes != nullptr) unlockDriveVolumes(*held.volumes);
    platform::os().releaseVolumeRoots();
    if (held.progress == nullptr) return std::string();
    return held.progress->started()
               ? "Interrupted" + held.progress->howFar().substr(1) + "."
               : "Interrupted before anything was written; the card is unchanged.";
}

void endRunOnInterrupt() {
    platform::onInterrupt(giveBackAndEnd);
}
