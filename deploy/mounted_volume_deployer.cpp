#include "deploy/mounted_volume_deployer.h"

#include "deploy/copy_directory.h"
#include "platform/platform.h"

#include <utility>

MountedVolumeDeployer::MountedVolumeDeployer(QString bootFolder, QString firmware)
    : bootFolder_(std::move(bootFolder)), firmware_(std::move(firmware)) {}

bool MountedVolumeDeployer::findVolume(int driveNumber) {
    return findBootVolume(driveNumber, volume_);
}

bool MountedVolumeDeployer::openVolume() {
    // The OS mounts the volume again on the first use of its files below.
    dismountBootVolume(volume_);
    return bootVolumeRoot(volume_.letter, root_);
}

bool MountedVolumeDeployer::copyBootFolder() {
    return copyDirectory(bootFolder_, bootFolderDestination(root_));
}

bool MountedVolumeDeployer::copyFirmware() {
    return copyDirectory(firmware_, firmwareDestination(root_));
}

bool MountedVolumeDeployer::closeVolume() {
    // The copies must be on the card before success is reported, and before
    // a mount of the backend's own goes away.
    const bool flushed = root_.isEmpty() || flushBootVolume(volume_.letter);
    platform::os().releaseVolumeRoots();
    return flushed;
}
