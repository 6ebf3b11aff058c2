#pragma once
// The whole rebuild of one card, as the install page runs it.

#include "install/stage_report.h"

constexpr int DRIVE_PATH_CHARS = 256;

// Locks the drive's volumes, opens the drive, partitions and formats it,
// writes the boot loader, releases drive and volumes, deploys the boot files
// from the working directory and shows the final status. Fills `drivePath`
// ("\\.\PhysicalDriveN", DRIVE_PATH_CHARS characters). Failure is left in
// report.failed(); the caller then marks the run complete.
void runInstallation(StageReport& report, int driveNumber, char* drivePath);
