#include "inspect/partition_entry_check.h"

#include "disk/partition_table.h"

namespace {

struct Extent {
    uint64_t first = 0, count = 0;
};

Extent extentOf(const uint8_t* mbr, uint32_t index) {
    const PartitionEntryFields entry = readPartitionEntry(mbr, index);
    return {entry.first, entry.count};
}

}  // namespace

bool checkPartitionEntry(const uint8_t* mbr, uint32_t index, uint64_t diskSectors,
                         uint32_t bootLoaderSectors, std::string& reason) {
    const std::string name = "Partition entry " + std::to_string(index);
    const Extent entry = extentOf(mbr, index);
    if (entry.count == 0) {
        reason = name + " is empty.";
        return false;
    }
    if (entry.first < bootLoaderSectors) {
        reason = name + " starts at sector " + std::to_string(entry.first) +
                 ", over the partition table and boot loader (sectors 0 to " +
                 std::to_string(bootLoaderSectors - 1) + ").";
        return false;
    }
    if (entry.first + entry.count > diskSectors) {
        reason = name + " ends at sector " + std::to_string(entry.first + entry.count - 1) +
                 ", past the end of the disk (" + std::to_string(diskSectors) + " sectors).";
        return false;
    }
    for (uint32_t other = 0; other < MBR_ENTRIES; ++other) {
        const Extent o = extentOf(mbr, other);
        if (other == index || o.count == 0) continue;
        if (entry.first < o.first + o.count && o.first < entry.first + entry.count) {
            reason = name + " overlaps partition entry " + std::to_string(other) + ".";
            return false;
        }
    }
    return true;
}
