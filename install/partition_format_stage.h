#pragma once
// The first disk-writing stage: the card's partition table, then both FAT
// volumes.

#include "disk/partition_table.h"
#include "install/stage_report.h"
#include "platform/platform.h"

#include <cstdint>

// The card's size list: boot partition of 256,000 KiB (250 MiB), data
// partition over all the rest.
constexpr int32_t CARD_LAYOUT[4] = {sizeInKiB(256000), 100, 0, 0};
// The card's partition that receives the boot files.
constexpr uint32_t BOOT_PARTITION_INDEX = 0;
// The formatter chooses FAT16 or FAT32 and the cluster size from the size.
constexpr int32_t FAT_TYPE_BY_SIZE = 0;
constexpr uint32_t CLUSTER_BYTES_BY_SIZE = 0;

// First makes sure the card keeps data up to its last sector (nothing else is
// written when it does not). Boot partition of 256,000 KiB, data partition
// over the rest; formatted as
// "t6sc_boot" and "t6sc_data" with the FAT type and cluster size the formatter
// picks. Shows first, a third and two thirds of the span, and last. Stops at
// the first failure, marking the run failed with one debug line.
void partitionAndFormat(StageReport& report, platform::Handle disk, uint32_t diskSectors,
                        uint32_t heads, uint32_t sectorsPerTrack, int first, int last);
