#include "fake_installation.h"

#include "install/installation.h"
#include "util/text.h"

FakeInstallation& fakeInstallation() {
    static FakeInstallation fake;
    return fake;
}

void resetFakeInstallation() {
    fakeInstallation() = FakeInstallation();
}

void runInstallation(StageReport& report, int driveNumber, char* drivePath) {
    FakeInstallation& fake = fakeInstallation();
    ++fake.runs;
    fake.driveNumber = driveNumber;
    formatNarrow(drivePath, DRIVE_PATH_CHARS, "\\\\.\\PhysicalDrive%d", driveNumber);
    fake.drivePath = drivePath;

    report.show(0, "Partitioning drive...");
    report.show(33, "Formatting complete");
    if (fake.midRun) fake.midRun(report);
    if (fake.fail) {
        report.setFailed();
        report.resetProgress();
        report.showText("Finished - an error occurred");
    } else {
        report.show(100, "Finished successfully");
    }
}
