#include "deploy/mounted_volume_deployer.h"

#include "deploy/copy_check.h"
#include "deploy/copy_directory.h"
#include "platform/platform.h"

#include <utility>

MountedVolumeDeployer::MountedVolumeDeployer(QString bootFolder, QString firmware)
    : bootFolder_(std::move(bootFolder)), firmware_(std::move(firmware)) {}

bool MountedVolumeDeployer::findVolume(int driveNumber, const PartitionPlace& boot) {
    return findBootVolume(driveNumber, boot, volume_);
}

bool MountedVolumeDeployer::openVolume() {
    // The OS mounts the volume again on the first use of its files below.
    dismountBootVolume(volume_);
    return bootVolumeRoot(volume_.letter, root_);
}

bool MountedVolumeDeployer::copyBootFolder() {
    bootFolderCopied_ = copyDirectory(bootFolder_, bootFolderDestination(root_));
    return bootFolderCopied_;
}

bool MountedVolumeDeployer::copyFirmware() {
    firmwareCopied_ = copyDirectory(firmware_, firmwareDestination(root_));
    return firmwareCopied_;
}

bool MountedVolumeDeployer::closeVolume() {
    // The copies must be on the card before success is reported, and before
    // a mount of the backend's own goes away.
    const bool flushed = root_.isEmpty() || flushBootVolume(volume_.letter);
    // What was flushed is compared with its sources before the files go out
    // of reach; the boot folder's own bzImage gave way to the firmware.
    const bool same = !flushed || !bootFolderCopied_ || !firmwareCopied_ ||
                      (copyMatchesSource(bootFolder_, bootFolderDestination(root_),
                                         QStringLiteral("bzImage")) &&
                       copyMatchesSource(firmware_, firmwareDestination(root_)));
    platform::os().releaseVolumeRoots();
    return flushed && same;
}
