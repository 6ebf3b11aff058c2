#pragma once
// One run per drive: a run holds its drive's guard from before the lock-out of
// the volumes to after the boot files are read back, so that a second run on
// the same drive (another t6-card, or t6-card beside the wizard) stops before
// it touches anything, instead of taking the first run's volumes and mounts
// away between two of its steps. Runs on different drives go side by side.

#include "platform/platform.h"

class DriveRunGuard {
public:
    // Takes the guard of drive `driveNumber`.
    explicit DriveRunGuard(int driveNumber);
    // Gives it back.
    ~DriveRunGuard();
    DriveRunGuard(const DriveRunGuard&) = delete;
    DriveRunGuard& operator=(const DriveRunGuard&) = delete;

    // Another run holds the drive: this one must not start.
    bool heldElsewhere() const { return heldElsewhere_; }

private:
    platform::Platform& os_;  // the backend that holds it
    platform::Handle handle_ = platform::INVALID_HANDLE_VALUE;
    bool heldElsewhere_ = false;
};
