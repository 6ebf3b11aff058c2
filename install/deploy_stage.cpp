#include "install/deploy_stage.h"

#include "install/retry_wait.h"
#include "util/debug.h"

namespace {

// The OS mounts the new partitions a moment after it has read the new table,
// and gives letters in no promised order.
bool awaitBootVolume(StageReport& report, FileDeployer& deployer, int driveNumber,
                     const PartitionPlace& boot) {
    RetryWait wait(&report);
    const uint64_t deadline = wait.now() + BOOT_VOLUME_WAIT_MS;
    while (!deployer.findVolume(driveNumber, boot)) {
        if (wait.now() >= deadline) {
            debugPrint("Boot volume of disk %d did not appear\n", driveNumber);
            return false;
        }
        wait.pause(BOOT_VOLUME_POLL_MS);
    }
    return true;
}

}  // namespace

bool deployFiles(StageReport& report, FileDeployer& deployer, int driveNumber,
                 const PartitionPlace& boot, int first, int last) {
    deployer.setPump(report);
    report.showText("Copying files...");

    if (!awaitBootVolume(report, deployer, driveNumber, boot)) {
        report.setFailed();
        return false;
    }
    report.showValue(first);

    const bool reachable = deployer.openVolume();
    if (!reachable) report.setFailed();
    const bool folderCopied = reachable && deployer.copyBootFolder();
    if (reachable && !folderCopied) report.setFailed();
    report.showValue(first + (last - first) / 2);
    const bool firmwareCopied = reachable && deployer.copyFirmware();
    if (reachable && !firmwareCopied) report.setFailed();
    // Closing the volume flushes the copies and compares them with their
    // sources: both copies made and the close passed, they are on the card.
    const bool closed = deployer.closeVolume();
    if (!closed) report.setFailed();
    const bool checked = closed && folderCopied && firmwareCopied;

    report.show(last, "Finished copying files");
    return checked;
}
