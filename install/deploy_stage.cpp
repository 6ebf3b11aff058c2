#include "install/deploy_stage.h"

void deployFiles(StageReport& report, FileDeployer& deployer, int driveNumber, int first,
                 int last) {
    deployer.setPump(report);
    report.showText("Copying files...");

    if (!deployer.findVolume(driveNumber)) {
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
