#include "fake_installation.h"

#include "main/zel_recovery_wizard.h"
#include "util/text.h"

FakeInstallation& fakeInstallation() {
    static FakeInstallation fake;
    return fake;
}

void resetFakeInstallation() {
    FakeInstallation& fake = fakeInstallation();
    fake.fail = false;
    fake.midRun = nullptr;
    fake.runs = 0;
    fake.driveNumber = -100;
    fake.drivePath.clear();
    fake.outcome = RunOutcome();
}

void useFakeInstallation(ZelRecoveryWizard& wizard) {
    auto* page = qobject_cast<ZelRecoveryInstallPage*>(wizard.page(INSTALL_PAGE_ID));
    page->setInstallation(&fakeInstallation());
}

RunOutcome FakeInstallation::run(StageReport& report, int driveNumber, const DriveDescription&,
                                 char* drivePath) {
    ++runs;
    this->driveNumber = driveNumber;
    formatNarrow(drivePath, DRIVE_PATH_CHARS, "\\\\.\\PhysicalDrive%d", driveNumber);
    this->drivePath = drivePath;

    report.show(0, "Partitioning drive...");
    report.show(33, "Formatting complete");
    if (midRun) midRun(report);
    if (fail) {
        report.setFailed();
        report.resetProgress();
        report.showText("Finished - an error occurred");
    } else {
        report.show(100, "Finished successfully");
    }
    return outcome;
}
