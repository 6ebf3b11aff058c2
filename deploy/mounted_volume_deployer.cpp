#include "deploy/mounted_volume_deployer.h"

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
    return copyDirectory(sources().bootFolder, bootFolderDestination(root_), pacer());
}

bool MountedVolumeDeployer::copyFirmware() {
    return copyDirectory(sources().firmware, firmwareDestination(root_), pacer());
}

bool MountedVolumeDeployer::closeVolume() {
    // The copies must be on the card before success is reported, and before
    // a mount of the backend's own goes away. A flush may take seconds. The
    // installation then reads them back from the card itself.
    const std::u16string path = volume_.path;
    const bool flushed =
        root_.isEmpty() || pump().waitFor([path] { return flushBootVolume(path); });
    platform::os().releaseVolumeRoots();
    return flushed;
}
