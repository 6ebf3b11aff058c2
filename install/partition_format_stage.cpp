#include "install/partition_format_stage.h"

#include "disk/capacity_probe.h"
#include "disk/partition_table.h"
#include "fat/format_partition.h"
#include "util/debug.h"

void partitionAndFormat(StageReport& report, platform::Handle disk, uint32_t diskSectors,
                        uint32_t heads, uint32_t sectorsPerTrack, int first, int last) {
    // Each step is many requests to a card reader that may take tens of
    // milliseconds each: they run while the display keeps repainting. The bar
    // moves by thirds of the stage.
    report.show(first, "Partitioning drive...");
    // A card that does not keep what it is given gets no layout at all.
    if (!report.waitFor([=] {
            return probeCapacity(disk, diskSectors) &&
                   writePartitionTable(disk, diskSectors, heads, sectorsPerTrack, CARD_LAYOUT);
        })) {
        report.setFailed();
        debugPrint("Failed partitioning disk\n");
        return;
    }

    report.show(first + (last - first) / 3, "Formatting boot partition...");
    if (!report.waitFor([=] {
            return formatPartition(disk, diskSectors, heads, sectorsPerTrack, BOOT_PARTITION_INDEX,
                                   FAT_TYPE_BY_SIZE, CLUSTER_BYTES_BY_SIZE, "t6sc_boot", nullptr);
        })) {
        report.setFailed();
        debugPrint("Failed formatting disk 0\n");
        return;
    }

    report.show(first + 2 * (last - first) / 3, "Formatting data partition...");
    if (!report.waitFor([=] {
            return formatPartition(disk, diskSectors, heads, sectorsPerTrack, 1, FAT_TYPE_BY_SIZE,
                                   CLUSTER_BYTES_BY_SIZE, "t6sc_data", nullptr);
        })) {
        report.setFailed();
        debugPrint("Failed formatting disk 1\n");
        return;
    }

    report.show(last, "Formatting complete");
}
