#pragma once
// The two GRUB legacy 0.97 boot images the card boots through, prepared at
// build time with every field final: stage 1 for the boot code area of the
// MBR, and the FAT stage 1.5 for the sectors right behind it.

#include <cstdint>

constexpr uint32_t GRUB_STAGE1_BYTES = 432;

// Stage 1: loads LBA 1 to 0200:0000 from the boot drive (DL) and jumps to it.
extern const uint8_t grubStage1Image[GRUB_STAGE1_BYTES];

// FAT stage 1.5, padded with zeros to whole 512-byte sectors. Its start sector
// goes to LBA 1 and carries the block list for LBAs 2 onwards; it loads
// /boot/grub/stage2 from the first primary partition of the boot drive.
extern const uint8_t grubStage15Image[];
extern const uint32_t grubStage15Bytes;
