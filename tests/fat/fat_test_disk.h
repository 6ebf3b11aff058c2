#pragma once
// The simulated machine with drive 0 as the disk to format, and the MBR and
// sector helpers the format checks use.

#include "support/sim_machine.h"

#include <cstdint>
#include <string>
#include <vector>

struct FatTestDisk : SimMachine {
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

    SectorBytes sector(uint64_t lba) const { return SimMachine::sector(0, lba); }
    void putSector(uint64_t lba, const SectorBytes& bytes) { SimMachine::putSector(0, lba, bytes); }
    // A recognisable non-zero pattern, to prove a sector was left alone.
    static SectorBytes pattern(uint8_t seed);

    std::string image;
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors = 0, heads = 0, sectorsPerTrack = 0;
};

uint16_t le16(const SectorBytes& s, size_t at);
uint32_t le32(const SectorBytes& s, size_t at);
