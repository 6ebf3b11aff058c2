#include "install/deploy_stage.h"

#include "deploy/boot_volume.h"
#include "deploy/copy_directory.h"
#include "platform/platform.h"

#include <QString>

void deployFiles(StageReport& report, int driveNumber, int first, int last) {
    report.showText("Copying files...");

    BootVolume volume;
    if (!findBootVolume(driveNumber, volume)) {
        report.setFailed();
        return;
    }
    report.showValue(first);

    // The OS mounts the volume again on the first use of its files below.
    dismountBootVolume(volume);
    QString root;
    const bool reachable = bootVolumeRoot(volume.letter, root);
    if (!reachable) report.setFailed();

    // The folder goes first, so the firmware always replaces a bzImage in it.
    if (reachable && !copyDirectory(QString::fromLatin1(BOOT_FOLDER_SOURCE), bootFolderDestination(root)))
        report.setFailed();
    report.showValue(first + (last - first) / 2);
    if (reachable && !copyDirectory(QString::fromLatin1(FIRMWARE_SOURCE), firmwareDestination(root)))
        report.setFailed();
    platform::os().releaseVolumeRoots();

    report.show(last, "Finished copying files");
}
