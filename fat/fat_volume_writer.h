#pragma once
// Lays an empty FAT volume into a partition: reserved region, both FAT copies
// and the root region, one sector at a time. The data area is not touched.

#include "fat/fat_geometry.h"
#include "fat/progress_receiver.h"
#include "platform/platform.h"

#include <cstdint>

// Reports to `progress` (may be null): begin(totalSteps, 0), then update(k + 1)
// after the k-th volume sector, then end, also when a write fails. False, with
// a debug line, at the first positioning or write that fails or comes up short.
bool writeFatVolume(platform::Handle handle, const FatGeometry& geometry, uint32_t heads,
                    uint32_t sectorsPerTrack, const char* label, ProgressReceiver* progress);
