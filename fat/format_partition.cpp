#include "fat/format_partition.h"

#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "fat/fat_geometry.h"
#include "fat/fat_volume_writer.h"
#include "util/debug.h"
#include "platform/little_endian.h"

#include <array>

bool formatPartition(platform::Handle handle, uint32_t /*diskSectors*/, uint32_t heads,
                     uint32_t sectorsPerTrack, uint32_t partitionIndex, int32_t fatType,
                     uint32_t clusterBytes, const char* label, ProgressReceiver* progress)
{
    if (partitionIndex >= MBR_ENTRIES) {
        debugPrint("Invalid partition index %u\n", partitionIndex);
        return false;
    }
    std::array<uint8_t, SECTOR_BYTES> mbr{};
    if (SectorFault fault = readSectors(handle, 0, 1, mbr.data())) {
        printSectorFault(fault, true);
        return false;
    }

    uint8_t* entry = mbr.data() + MBR_ENTRY_TABLE_OFFSET + MBR_ENTRY_BYTES * partitionIndex;
    FatGeometry geometry;
    if (!chooseFatGeometry(loadLe32(entry + MBR_ENTRY_FIRST_SECTOR), loadLe32(entry + MBR_ENTRY_SECTOR_COUNT),
                           fatType, clusterBytes, geometry))
        return false;

    // The type byte goes by FAT type alone, whatever the partition's size or place.
    entry[MBR_ENTRY_TYPE] = geometry.fatType == 16 ? PARTITION_TYPE_FAT16 : PARTITION_TYPE_FAT32_LBA;
    if (SectorFault fault = writeSectors(handle, 0, 1, mbr.data())) {
        printSectorFault(fault, false);
        return false;
    }
    if (SectorFault fault = verifySectors(handle, 0, 1, mbr.data())) {
        printSectorFault(fault, true);
        return false;
    }
    return writeFatVolume(handle, geometry, heads, sectorsPerTrack, label, progress);
}
