#pragma once
// A FAT boot sector's fields as a reader sees them: the counterpart of
// buildBootSector, for checking a volume that is already there. Nothing read
// is trusted: `layout` says whether the fields describe a volume at all.

#include <cstddef>
#include <cstdint>
#include <string>

struct FatBootSector {
    bool signature = false;       // 55 AA at 510
    bool layout = false;          // the fields describe a FAT16 or FAT32 volume
    int fatType = 0;              // 16 or 32 when layout is true
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectors = 0;
    uint32_t fatCount = 0;
    uint32_t fatSectors = 0;      // of one copy
    uint32_t rootEntries = 0;     // FAT16 root directory entries
    uint32_t rootCluster = 0;     // FAT32 root directory's first cluster
    uint32_t fsInfoSector = 0;    // FAT32: the free-cluster summary's sector
    uint32_t backupSector = 0;    // FAT32: the boot sector's copy
    uint32_t totalSectors = 0;
    uint8_t media = 0;            // media descriptor byte
    bool dirty = false;           // the volume was not cleanly unmounted
    std::string label;            // trailing spaces removed
};

// Reads the fields of a 512-byte boot sector.
FatBootSector parseFatBootSector(const uint8_t* sector);

// A name field as it may be shown on a terminal, trailing spaces and zeros
// removed: what a card says is not trusted to be printable, so control bytes
// and bytes of no known code page appear as \xNN.
std::string shownFieldText(const uint8_t* bytes, std::size_t length);
// One byte that cannot be shown as it is, as \xNN.
std::string escapedByte(uint8_t byte);
