#pragma once
// The last installation stage: boot files and firmware onto the new boot volume.

#include "deploy/file_deployer.h"
#include "install/stage_report.h"

// Has `deployer` find the boot volume of drive `driveNumber` and copy the boot
// folder and the firmware onto it, moving the progress from `first` to
// `last`. No boot volume: failed at once, with the bar where it was. A failed
// copy marks the run failed, and the stage still runs to its end.
void deployFiles(StageReport& report, FileDeployer& deployer, int driveNumber, int first,
                 int last);
