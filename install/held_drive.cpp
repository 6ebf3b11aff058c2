#include "install/held_drive.h"

#include "disk/raw_disk.h"
#include "install/interrupted_run.h"
#include "util/debug.h"

HeldDrive::HeldDrive(const InstallTarget& target, StageReport* report)
    : target_(target), wait_(report), kept_(lockDriveVolumes(target.driveNumber(), wait_)) {
    holdRunVolumes(&kept_);
}

bool HeldDrive::open() {
    // Another program (a disk monitor, a second tool) may hold the drive for
    // a moment: a sharing violation or a refused lock is tried again.
    const uint64_t deadline = wait_.now() + DRIVE_RETRY_MS;
    DriveOpenFailure last;
    for (;;) {
        DriveOpenFailure failure;
        open_ = openPhysicalDrive(target_.drivePath(), handle_, diskSectors_, heads_,
                                  sectorsPerTrack_, &failure);
        if (open_) {
            holdRunDrive(handle_);
            return true;
        }
        const bool busy = (failure.step == DriveOpenFailure::Open &&
                           failure.error == platform::ERROR_SHARING_VIOLATION) ||
                          failure.step == DriveOpenFailure::Lock;
        // The open writes its own line each time; a refused lock is told once
        // for each new error code.
        if (failure.step == DriveOpenFailure::Lock &&
            (last.step != failure.step || last.error != failure.error))
            debugPrint("Lock of %s refused: %u\n", target_.drivePath(), failure.error);
        last = failure;
        if (!busy || wait_.now() >= deadline) break;
        closeDrive();
        wait_.pause(DRIVE_RETRY_INTERVAL_MS);
    }
    // Opened but not locked: still the run's until release().
    if (handle_ != platform::INVALID_HANDLE_VALUE) holdRunDrive(handle_);
    debugPrint("Failed to open disk\n");
    return false;
}

void HeldDrive::closeDrive() {
    if (handle_ != platform::INVALID_HANDLE_VALUE) platform::os().CloseHandle(handle_);
    handle_ = platform::INVALID_HANDLE_VALUE;
}

HeldDrive::~HeldDrive() {
    release();
}

bool HeldDrive::release() {
    bool released = true;
    dropRunDrive();
    dropRunVolumes();
    if (handle_ != platform::INVALID_HANDLE_VALUE) released = releaseDisk(handle_);
    handle_ = platform::INVALID_HANDLE_VALUE;
    open_ = false;
    // A refused unlock (Windows may refuse it for a volume whose partition the
    // new table removed) is logged; closing the handle ends the lock anyway.
    unlockDriveVolumes(kept_);
    return released;
}
