#pragma once
// The last installation stage: boot files and firmware onto the new boot volume.

#include "install/stage_report.h"

// Finds the first volume (by letter) on drive `driveNumber`, copies
// "files/boot" to its \boot folder and "firmware/t6-board.fw" to
// \boot\bzImage, moving the progress from `first` to `last`. No boot volume:
// failed at once, with the bar where it was. A failed copy marks the run
// failed, and the stage still runs to its end.
void deployFiles(StageReport& report, int driveNumber, int first, int last);
