#pragma once
// The sectors of an empty FAT volume that are not all zero.

#include "fat/fat_geometry.h"
#include "fat/fat_layout.h"

#include <cstddef>
#include <cstdint>

constexpr size_t NON_BOOTABLE_STUB_BYTES = 372;
// Boot code for a volume that cannot boot: prints a notice, waits for a key
// and hands back to the BIOS. The same bytes at 0x3E (FAT16) and 0x5A (FAT32).
const uint8_t* nonBootableStub();

// Each builder fills a whole 512-byte sector.
void buildBootSector(const FatGeometry& geometry, uint32_t heads, uint32_t sectorsPerTrack,
                     const char* label, uint8_t* sector);
// FAT32 only.
void buildFsInfoSector(const FatGeometry& geometry, uint8_t* sector);
// Entries 0 and 1 (and for FAT32 the end of the root directory's chain).
void buildFirstFatSector(int fatType, uint8_t* sector);
// The volume-label entry, unless the label is empty or exactly eleven spaces.
void buildFirstRootSector(const char* label, uint8_t* sector);
