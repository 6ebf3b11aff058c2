#pragma once
// The deployment onto the boot volume the OS mounts from the card: the
// drive letter of the boot partition, dismounted once so that the OS mounts the
// new file system, then reached through its root.

#include "deploy/boot_volume.h"
#include "deploy/file_deployer.h"

#include <QString>

class MountedVolumeDeployer final : public FileDeployer {
public:
    // The sources default to the wizard's, relative to the working directory.
    MountedVolumeDeployer(QString bootFolder = QString::fromLatin1(BOOT_FOLDER_SOURCE),
                          QString firmware = QString::fromLatin1(FIRMWARE_SOURCE));

    bool findVolume(int driveNumber, const PartitionPlace& boot) override;
    bool openVolume() override;
    bool copyBootFolder() override;
    bool copyFirmware() override;
    bool closeVolume() override;

private:
    QString bootFolder_;
    QString firmware_;
    BootVolume volume_;
    QString root_;
    bool bootFolderCopied_ = false;
    bool firmwareCopied_ = false;
};
