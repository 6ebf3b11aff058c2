#pragma once
// Whether a partition entry of an MBR is a safe place to format: the
// formatter writes wherever the entry points, so an entry over the MBR or the
// boot loader sectors, past the end of the disk or over another partition
// would destroy what lies there.

#include <cstdint>
#include <string>

// `mbr` is the 512-byte sector 0, `index` the entry (0 to 3). False with a
// sentence in `reason` when the entry is empty or unsafe.
bool checkPartitionEntry(const uint8_t* mbr, uint32_t index, uint64_t diskSectors,
                         uint32_t bootLoaderSectors, std::string& reason);
