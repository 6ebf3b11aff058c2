#include "install/installation.h"

#include "disk/raw_disk.h"
#include "install/bootloader_stage.h"
#include "install/deploy_stage.h"
#include "install/partition_format_stage.h"
#include "install/volume_lockout.h"
#include "util/debug.h"
#include "util/text.h"

#include <cstdint>

void runInstallation(StageReport& report, int driveNumber, char* drivePath) {
    formatNarrow(drivePath, DRIVE_PATH_CHARS, "\\\\.\\PhysicalDrive%d", driveNumber);

    KeptVolumes kept = lockDriveVolumes(driveNumber);

    platform::Handle disk = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors = 0, heads = 0, sectorsPerTrack = 0;
    if (!openPhysicalDrive(drivePath, disk, diskSectors, heads, sectorsPerTrack)) {
        report.setFailed();
        debugPrint("Failed to open disk\n");
    }

    if (!report.failed()) {
        partitionAndFormat(report, disk, diskSectors, heads, sectorsPerTrack, 0, 33);
        // The boot loader goes only onto a card that was partitioned and formatted.
        if (!report.failed()) installBootloader(report, disk, 34, 66);
    }
    // The drive goes back whatever happened, also when it opened but could
    // not be locked or measured: nothing later needs it, and the OS must
    // re-read the partition table before the volumes come back.
    if (disk != platform::INVALID_HANDLE_VALUE) releaseDisk(disk);

    // Unlocked on every path, so no volume stays locked after the run. A
    // refused unlock leaves that volume in doubt, so the files are not
    // deployed and the run ends as failed.
    if (!unlockDriveVolumes(kept)) report.setFailed();

    if (!report.failed()) deployFiles(report, driveNumber, 67, 99);

    if (report.failed()) {
        report.resetProgress();
        report.showText("Finished - an error occurred");
    } else {
        report.show(100, "Finished successfully");
    }
}
