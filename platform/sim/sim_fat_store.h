#pragma once
// A simulated volume's files reach its drive as a FAT file system does: when
// the volume is flushed, its folder is written into the FAT volume that lies
// on the drive, so that whatever reads the drive's sectors afterwards finds
// the files there (or finds what a failing card kept of them).

#include <cstdint>
#include <functional>
#include <string>

namespace platform {
namespace sim {

// Sector access to the drive under the volume: `count` sectors at `lba`.
struct SectorAccess {
    std::function<bool(uint64_t lba, uint32_t count, uint8_t* bytes)> read;
    std::function<bool(uint64_t lba, uint32_t count, const uint8_t* bytes)> write;
};

// Lays the files and folders of `folder` into the FAT16 or FAT32 volume at
// `start` (`sectors` long): new FATs, root folder (keeping the volume label)
// and folders, each file in a run of clusters, with long names. Nothing is
// written, and true comes back, when the sectors hold no FAT volume of 512-byte
// sectors (a volume that was never formatted has nothing to keep files in).
// False when a read or write fails, or when the files do not fit.
bool storeFolderInFat(const std::string& folder, uint64_t start, uint64_t sectors,
                      const SectorAccess& drive);

}  // namespace sim
}  // namespace platform
