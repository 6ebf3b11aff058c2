#pragma once
// The boot loader's sectors on the card: stage 1 merged into the MBR, and
// stage 1.5 right behind it.

#include "disk/sector_io.h"
#include "platform/platform.h"

#include <cstdint>

// A stage 1 image (GRUB_STAGE1_BYTES long) and a stage 1.5 image of whole
// sectors, written to LBA 0 and to LBAs 1 to stage15Sectors.
struct BootImages {
    const uint8_t* stage1;
    const uint8_t* stage15;
    uint32_t stage15Sectors;
};

// The images built into the program.
BootImages grubBootImages();

constexpr uint32_t STAGE15_FIRST_LBA = 1;

// Replaces bytes 0 to 431 of the 512-byte `mbr` with stage 1. Bytes 432 to 511
// (disk signature, partition entries, 55 AA) stay as they are.
void mergeStage1(uint8_t* mbr, const uint8_t* stage1);

// Reads LBA 0, merges stage 1 into it, writes it back and reads it back. When
// the first read fails nothing is written: the buffer would not hold the
// card's partition table.
bool writeStage1(platform::Handle handle, const uint8_t* stage1);

// Writes stage 1.5 to LBAs STAGE15_FIRST_LBA on, in requests of up to 1 MiB;
// `done` hears of each request after it. At the first failed request: a debug
// line naming its first sector, false, and nothing after it written. Then
// reads them back: a difference is a debug line naming the sector, and false.
bool writeStage15(platform::Handle handle, const BootImages& images, const RequestDone& done);
