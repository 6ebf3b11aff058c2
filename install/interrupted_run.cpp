#include "install/interrupted_run.h"

#include "disk/card_requests.h"
#include "disk/raw_disk.h"
#include "platform/interrupts.h"
#include "util/debug.h"

#include <cstdlib>
#include <mutex>

namespace {

struct Holdings {
    std::mutex mutex;
    RunProgress* progress = nullptr;
    platform::Handle drive = platform::INVALID_HANDLE_VALUE;
    KeptVolumes* volumes = nullptr;
};

constexpr uint32_t INFLIGHT_REQUEST_WAIT_MS = 2000;

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

InterruptibleRun::InterruptibleRun(RunProgress& progress) {
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
    quietOtherThreads();
    // Only a run on a drive is given back: an image's simulated machine is
    // not made to be called from this thread, and its file goes anyway.
    if (held.progress == nullptr) return std::string();
    // Where the run was when the request came: it stops at its next report or
    // drive request, and the sync below takes a while.
    const std::string line = held.progress->started()
                                 ? "Interrupted" + held.progress->howFar().substr(1) + "."
                                 : "Interrupted before anything was written; the card is unchanged.";
    held.progress->halt();
    // The run's request under way ends first; the run makes no other, so the
    // handle is closed under no one. Bounded: a card that stopped answering
    // must not use up the time Windows gives a closing console or session.
    stopCardRequests(INFLIGHT_REQUEST_WAIT_MS);
    // The drive first, so that the OS reads whatever partition table the card
    // has now before the volumes come back.
    if (held.drive != platform::INVALID_HANDLE_VALUE) releaseDisk(held.drive);
    if (held.volumes != nullptr) unlockDriveVolumes(*held.volumes);
    platform::os().releaseVolumeRoots();
    return line;
}

void endRunOnInterrupt() {
    platform::onInterrupt(giveBackAndEnd);
}
