#pragma once
// Stands in for the installation run so that the wizard's own behaviour can be
// tested without a card: it reports a few stages and ends as told.

#include "install/stage_report.h"

#include <functional>
#include <string>

struct FakeInstallation {
    bool fail = false;                           // end the run as failed
    std::function<void(StageReport&)> midRun;    // called halfway through a run
    int runs = 0;
    int driveNumber = -100;                      // as the last run received it
    std::string drivePath;
};

FakeInstallation& fakeInstallation();
void resetFakeInstallation();
