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

void deployFiles(StageReport& report, FileDeployer& deployer, int driveNumber,
                 const PartitionPlace& boot, int first, int last) {
    deployer.setPump(report);
    report.showText("Copying files...");

    if (!awaitBootVolume(report, deployer, driveNumber, boot)) {
        report.setFailed();
        return;
    }
    report.showValue(first);

    const bool reachable = deployer.openVolume();
    if (!reachable) report.setFailed();
    if (reachable && !deployer.copyBootFolder()) report.setFailed();
    report.showValue(first + (last - first) / 2);
    if (reachable && !deployer.copyFirmware()) report.setFailed();
    if (!deployer.closeVolume()) report.setFailed();

    report.show(last, "Finished copying files");
}
