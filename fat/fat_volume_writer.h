#pragma once
// Lays an empty FAT volume into a partition: reserved region, both FAT copies
// and the root region, in requests of up to 1 MiB. The data area is not touched.

#include "fat/fat_geometry.h"
#include "fat/progress_receiver.h"
#include "platform/platform.h"

#include <cstdint>

// Reports to `progress` (may be null): begin(totalSteps, 0), then update(k + 1)
// for each volume sector k, right after the request that wrote it, then end,
// also when a write fails. False, with a debug line naming the first sector of
// the request, at the first positioning or write that fails or comes up short.
// Then reads the volume's sectors back: false, with a debug line naming the
// first sector that differs, when they do not hold what was written.
bool writeFatVolume(platform::Handle handle, const FatGeometry& geometry, uint32_t heads,
                    uint32_t sectorsPerTrack, const char* label, ProgressReceiver* progress);
