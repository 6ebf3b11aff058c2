#pragma once
// Lays a fresh MBR partition table on the whole card.

#include "platform/platform.h"

#include <cstdint>

// Sector 0 of the card: boot code, disk signature, four 16-byte entries, 55 AA.
constexpr uint32_t MBR_SIGNATURE_OFFSET = 440;
constexpr uint32_t MBR_ENTRY_TABLE_OFFSET = 446;
constexpr uint32_t MBR_ENTRY_BYTES = 16;
constexpr uint32_t MBR_ENTRIES = 4;
constexpr uint32_t MBR_BOOT_SIGNATURE = 510;  // 55 AA
// Fields of one entry.
constexpr uint32_t MBR_ENTRY_TYPE = 4;
constexpr uint32_t MBR_ENTRY_FIRST_SECTOR = 8;
constexpr uint32_t MBR_ENTRY_SECTOR_COUNT = 12;
// The partition types the formatter stores.
constexpr uint8_t PARTITION_TYPE_FAT16 = 0x06;
constexpr uint8_t PARTITION_TYPE_FAT32_LBA = 0x0B;

// Size list entries: 0 ends the list; top bit set = absolute size in KiB (low
// 31 bits); positive = percentage of the space from the partition's start to
// the end of the disk. At most four entries are used.
constexpr int32_t sizeInKiB(uint32_t kib) { return static_cast<int32_t>(0x80000000u | kib); }

// Writes sector 0 (random signature, entries, 55 AA) and zeroes LBAs 1 to
// sectorsPerTrack - 1, then reads them back. False when a write is incomplete,
// when the read-back fails or differs (with a debug line naming the sector),
// or (nothing written) when the geometry cannot be laid out or a listed entry
// would get no sectors.
bool writePartitionTable(platform::Handle handle, uint32_t diskSectors, uint32_t heads,
                         uint32_t sectorsPerTrack, const int32_t* sizeList);

// One entry of a partition table as it is read back, trusting nothing.
struct PartitionEntryFields {
    uint8_t type = 0;
    uint32_t first = 0;   // first sector
    uint32_t count = 0;   // sectors
    bool used = false;    // any byte of the entry is non-zero
};
// Entry `index` (0 to 3) of the 512-byte sector 0 `mbr`.
PartitionEntryFields readPartitionEntry(const uint8_t* mbr, uint32_t index);

// Where one partition lies, in sectors.
struct PartitionPlace {
    uint32_t firstSector = 0;
    uint32_t sectors = 0;
};
// Reads sector 0 and gives entry `index` (0 to 3) of its table. False when the
// read fails or the entry is empty.
bool readPartitionPlace(platform::Handle handle, uint32_t index, PartitionPlace& place);

// Where writePartitionTable puts entry `index` of the size list on such a
// disk, without writing anything. False when it would refuse the layout or
// lay out no such entry.
bool partitionExtent(uint32_t diskSectors, uint32_t heads, uint32_t sectorsPerTrack,
                     const int32_t* sizeList, uint32_t index, uint32_t& first, uint32_t& count);

struct ChsBytes {
    uint8_t head, sector, cylinder;
};
// CHS bytes of an LBA: cylinders past 1023 wrap (bits above 9 are dropped).
ChsBytes chsOf(uint32_t lba, uint32_t heads, uint32_t sectorsPerTrack);
