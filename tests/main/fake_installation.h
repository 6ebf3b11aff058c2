#pragma once
// Stands in for the installation run so that the wizard's own behaviour can be
// tested without a card: it reports a few stages and ends as told.

#include "install/installation.h"

#include <functional>
#include <string>

class ZelRecoveryWizard;

class FakeInstallation : public Installation {
public:
    bool fail = false;                           // end the run as failed
    std::function<void(StageReport&)> midRun;    // called halfway through a run
    int runs = 0;
    int driveNumber = -100;                      // as the last run received it
    std::string drivePath;

    RunOutcome outcome;                          // what a run returns, its cause set on failure

    RunOutcome run(StageReport& report, int driveNumber, const DriveDescription& listed,
                   char* drivePath) override;
};

// The one stand-in of a test program, fresh after resetFakeInstallation.
FakeInstallation& fakeInstallation();
void resetFakeInstallation();
// Hands the stand-in to the wizard's install page.
void useFakeInstallation(ZelRecoveryWizard& wizard);
