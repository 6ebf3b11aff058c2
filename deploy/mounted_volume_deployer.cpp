#include "deploy/mounted_volume_deployer.h"

#include "deploy/copy_check.h"
#include "deploy/copy_directory.h"
#include "platform/platform.h"

#include <utility>

MountedVolumeDeployer::MountedVolumeDeployer(PayloadSources sources)
    : FileDeployer(std::move(sources)) {}

bool MountedVolumeDeployer::findVolume(int driveNumber, const PartitionPlace& boot) {
    return findBootVolume(driveNumber, boot, volume_);
}

bool MountedVolumeDeployer::openVolume() {
    // The OS mounts the volume again on the first use of its files below.
    dismountBootVolume(volume_);
    return bootVolumeRoot(volume_, root_);
}

bool MountedVolumeDeployer::copyBootFolder() {
    bootFolderCopied_ = copyDirectory(sources().bootFolder, bootFolderDestination(root_), pacer());
    return bootFolderCopied_;
}

bool MountedVolumeDeployer::copyFirmware() {
    firmwareCopied_ = copyDirectory(sources().firmware, firmwareDestination(root_), pacer());
    return firmwareCopied_;
}

bool MountedVolumeDeployer::closeVolume() {
    // The copies must be on the card before success is reported, and before
    // a mount of the backend's own goes away. A flush may take seconds.
    const std::u16string path = volume_.path;
    const bool flushed =
        root_.isEmpty() || pump().waitFor([path] { return flushBootVolume(path); });
    // What was flushed is compared with its sources before the files go out
    // of reach; the boot folder's own bzImage gave way to the firmware.
    const PayloadSources& from = sources();
    const bool same = !flushed || !bootFolderCopied_ || !firmwareCopied_ ||
                      (copyMatchesSource(from.bootFolder, bootFolderDestination(root_),
                                         QStringLiteral("bzImage"), pacer()) &&
                       copyMatchesSource(from.firmware, firmwareDestination(root_), QString(),
                                         pacer()));
    platform::os().releaseVolumeRoots();
    return flushed && same;
}
