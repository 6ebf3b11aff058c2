#include "install/held_drive.h"

#include "disk/raw_disk.h"
#include "install/interrupted_run.h"
#include "util/debug.h"

HeldDrive::HeldDrive(const InstallTarget& target)
    : target_(target), kept_(lockDriveVolumes(target.driveNumber())) {
    holdRunVolumes(&kept_);
}

bool HeldDrive::open() {
    open_ = openPhysicalDrive(target_.drivePath(), handle_, diskSectors_, heads_, sectorsPerTrack_);
    if (handle_ != platform::INVALID_HANDLE_VALUE) holdRunDrive(handle_);
    if (!open_) debugPrint("Failed to open disk\n");
    return open_;
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
    return unlockDriveVolumes(kept_) && released;
}
