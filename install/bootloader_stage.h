#pragma once
// The install stage that makes the card bootable: GRUB stage 1 merged into the
// MBR the format stage left, stage 1.5 in the sectors behind it.

#include "bootloader/boot_sectors.h"
#include "install/stage_report.h"
#include "platform/platform.h"

// Moves the progress from `first` towards `last`: first, then a sixth and a
// third of the span around the MBR merge, then one step of 4/90 of the span
// per stage 1.5 sector. A failed read of LBA 0 (nothing written) or a failed
// write fails the stage at once.
void installBootloader(StageReport& report, platform::Handle handle, int first, int last);

// The same with other images (a different GRUB build, or a test's own).
void installBootloader(StageReport& report, platform::Handle handle, int first, int last,
                       const BootImages& images);
