#pragma once
// A simulated machine whose drive 0 is a sparse image, with direct access to
// the image's sectors for setting up and checking a format.

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <string>
#include <vector>

using SectorBytes = std::vector<uint8_t>;

struct FatTestDisk {
    explicit FatTestDisk(uint64_t sectors, uint32_t heads = 255, uint32_t sectorsPerTrack = 63);
    ~FatTestDisk();

    // Writes sector 0 straight into the image: 55 AA and the given entries.
    struct Entry {
        uint32_t start;
        uint32_t count;
    };
    void writeMbr(const std::vector<Entry>& entries);
    // Opens drive 0 through the raw disk layer; true on success.
    bool open();

    SectorBytes sector(uint64_t lba) const;
    void putSector(uint64_t lba, const SectorBytes& bytes);
    // A recognisable non-zero pattern, to prove a sector was left alone.
    static SectorBytes pattern(uint8_t seed);

    TempDir dir;
    std::string image;
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors = 0, heads = 0, sectorsPerTrack = 0;
};

uint16_t le16(const SectorBytes& s, size_t at);
uint32_t le32(const SectorBytes& s, size_t at);
