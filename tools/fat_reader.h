#pragma once
// Read-only look at a FAT16 or FAT32 volume on a drive: its boot sector
// fields, and whether a path names a file. Short (8.3) names are compared
// without regard to case, which is how the boot loader finds its files.

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

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
    uint32_t totalSectors = 0;
    std::string label;            // trailing spaces removed
};

// Reads the fields of a 512-byte boot sector.
FatBootSector parseFatBootSector(const uint8_t* sector);

enum class FatLookup { File, Folder, Missing, Unreadable };

class FatReader {
public:
    FatReader(platform::Handle handle, uint32_t partitionStart, const FatBootSector& boot);

    // Looks up a path of '/'-separated names from the root; `size` receives
    // the size of a file found.
    FatLookup find(const std::string& path, uint32_t& size);

private:
    struct Entry {
        std::string name;  // "NAME.EXT", upper case
        bool folder = false;
        uint32_t cluster = 0;
        uint32_t size = 0;
    };
    bool readDirectory(uint32_t cluster, std::vector<Entry>& entries);
    bool readRootDirectory(std::vector<Entry>& entries);
    void collect(const uint8_t* sector, std::vector<Entry>& entries, bool& ended);
    bool nextCluster(uint32_t cluster, uint32_t& next);
    bool readRelative(uint32_t sector, uint8_t* buffer);

    platform::Handle handle_;
    uint32_t partitionStart_;
    FatBootSector boot_;
    uint32_t dataStart_ = 0;     // first sector of cluster 2, relative to the partition
    uint32_t clusterCount_ = 0;
};
