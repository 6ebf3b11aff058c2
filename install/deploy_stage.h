#pragma once
// The last installation stage: boot files and firmware onto the new boot volume.

#include "deploy/file_deployer.h"
#include "disk/partition_table.h"
#include "install/stage_report.h"

#include <cstdint>

// How long the OS gets to mount the new boot volume, and how often it is
// looked for meanwhile.
constexpr uint32_t BOOT_VOLUME_WAIT_MS = 30000;
constexpr uint32_t BOOT_VOLUME_POLL_MS = 250;

// Has `deployer` find the boot volume of drive `driveNumber` (the partition at
// `boot`) and copy the boot folder and the firmware onto it, moving the
// progress from `first` to `last`. The volume is looked for again every
// BOOT_VOLUME_POLL_MS for up to BOOT_VOLUME_WAIT_MS, the display kept alive;
// when it does not come the run fails, with the bar where it was. A failed
// copy marks the run failed, and the stage still runs to its end. True when
// the copies were checked on the card once they were there, and found whole.
bool deployFiles(StageReport& report, FileDeployer& deployer, int driveNumber,
                 const PartitionPlace& boot, int first, int last);
