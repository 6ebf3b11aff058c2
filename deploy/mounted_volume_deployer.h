#pragma once
// The deployment onto the boot volume the OS mounts from the card: the
// drive letter of the boot partition, dismounted once so that the OS mounts the
// new file system, then reached through its root.

#include "deploy/boot_volume.h"
#include "deploy/file_deployer.h"

#include <QString>

class MountedVolumeDeployer final : public FileDeployer {
public:
    explicit MountedVolumeDeployer(PayloadSources sources);

    bool findVolume(int driveNumber, const PartitionPlace& boot) override;
    bool openVolume() override;
    bool copyBootFolder() override;
    bool copyFirmware() override;
    bool closeVolume() override;

private:
    BootVolume volume_;
    QString root_;
};
