#pragma once
// Where the fields of a FAT16/FAT32 volume lie: the boot sector, the FAT32
// free-cluster summary (FSInfo), FAT entries and folder entries. The
// formatter writes by these numbers and the card checker reads by them.

#include "platform/little_endian.h"

#include <cstddef>
#include <cstdint>

// Boot sector: byte offsets of its fields, with their widths.
constexpr uint32_t BOOT_BYTES_PER_SECTOR = 0x0B;     // 2
constexpr uint32_t BOOT_SECTORS_PER_CLUSTER = 0x0D;  // 1
constexpr uint32_t BOOT_RESERVED_SECTORS = 0x0E;     // 2
constexpr uint32_t BOOT_FAT_COUNT = 0x10;            // 1
constexpr uint32_t BOOT_ROOT_ENTRIES = 0x11;         // 2, 0 on FAT32
constexpr uint32_t BOOT_TOTAL_SECTORS_16 = 0x13;     // 2, 0 when the count needs 32 bits
constexpr uint32_t BOOT_MEDIA = 0x15;                // 1
constexpr uint32_t BOOT_FAT_SECTORS_16 = 0x16;       // 2, 0 on FAT32
constexpr uint32_t BOOT_SECTORS_PER_TRACK = 0x18;    // 2
constexpr uint32_t BOOT_HEADS = 0x1A;                // 2
constexpr uint32_t BOOT_HIDDEN_SECTORS = 0x1C;       // 4
constexpr uint32_t BOOT_TOTAL_SECTORS_32 = 0x20;     // 4
// FAT32 only.
constexpr uint32_t BOOT_FAT_SECTORS_32 = 0x24;       // 4
constexpr uint32_t BOOT_FAT32_FLAGS = 0x28;          // 2
constexpr uint32_t BOOT_FAT32_VERSION = 0x2A;        // 2
constexpr uint32_t BOOT_ROOT_CLUSTER = 0x2C;         // 4
constexpr uint32_t BOOT_FSINFO_SECTOR = 0x30;        // 2
constexpr uint32_t BOOT_BACKUP_SECTOR = 0x32;        // 2
// The extended block follows the FAT16 fields at 0x24 and the FAT32 ones at 0x40.
constexpr uint32_t bootExtendedBlock(int fatType) { return fatType == 32 ? 0x40 : 0x24; }
// Offsets inside the extended block.
constexpr uint32_t EXTENDED_DRIVE = 0;
constexpr uint32_t EXTENDED_FLAGS = 1;   // bit 0: the volume was not cleanly unmounted
constexpr uint32_t EXTENDED_SIGNATURE = 2;
constexpr uint32_t EXTENDED_SERIAL = 3;
constexpr uint32_t EXTENDED_LABEL = 7;
constexpr uint32_t EXTENDED_TYPE_NAME = 18;
constexpr uint32_t EXTENDED_CODE = 26;
constexpr uint8_t EXTENDED_SIGNATURE_VALUE = 0x29;
// 55 AA at the end of the sector.
constexpr uint32_t BOOT_SIGNATURE = 0x1FE;
constexpr size_t VOLUME_LABEL_BYTES = 11;
constexpr uint8_t MEDIA_FIXED_DISK = 0xF8;

// The FAT32 free-cluster summary: three signatures and two hints.
constexpr uint32_t FSINFO_LEAD = 0x000, FSINFO_LEAD_SIGNATURE = 0x41615252;
constexpr uint32_t FSINFO_STRUCTURE = 0x1E4, FSINFO_STRUCTURE_SIGNATURE = 0x61417272;
constexpr uint32_t FSINFO_FREE_COUNT = 0x1E8;
constexpr uint32_t FSINFO_NEXT_FREE = 0x1EC;
constexpr uint32_t FSINFO_TRAIL = 0x1FC, FSINFO_TRAIL_SIGNATURE = 0xAA550000;
constexpr uint32_t FSINFO_UNKNOWN = 0xFFFFFFFF;

// FAT entries: 2 bytes on FAT16, 4 on FAT32 (of which the low 28 bits count).
constexpr uint32_t FAT16_END_OF_CHAIN = 0xFFF8, FAT16_BAD = 0xFFF7, FAT16_LAST = 0xFFFF;
constexpr uint32_t FAT32_END_OF_CHAIN = 0x0FFFFFF8, FAT32_BAD = 0x0FFFFFF7, FAT32_LAST = 0x0FFFFFFF;
constexpr uint32_t FAT32_CLUSTER_MASK = 0x0FFFFFFF;

constexpr uint32_t fatEntryBytes(int fatType) { return fatType == 32 ? 4 : 2; }
// The end-of-chain value the formatter writes.
constexpr uint32_t fatLastCluster(int fatType) { return fatType == 32 ? FAT32_LAST : FAT16_LAST; }
// Entry 0 repeats the media byte in its low byte, all other bits set.
constexpr uint32_t fatMediaEntry(int fatType, uint8_t media) {
    return (fatType == 32 ? 0x0FFFFF00u : 0xFF00u) | media;
}

// Entry `index` of the FAT entries that begin at `entries`.
inline uint32_t loadFatEntry(int fatType, const uint8_t* entries, uint32_t index) {
    return fatType == 32 ? loadLe32(entries + index * 4) & FAT32_CLUSTER_MASK
                         : loadLe16(entries + index * 2);
}

inline void storeFatEntry(int fatType, uint8_t* entries, uint32_t index, uint32_t value) {
    if (fatType == 32)
        storeLe32(entries + index * 4, value);
    else
        storeLe16(entries + index * 2, value);
}

// Folder entries: 32 bytes each.
constexpr uint32_t DIRECTORY_ENTRY_BYTES = 32;
constexpr uint32_t ENTRY_NAME_BYTES = 11;  // 8 + 3, padded with spaces
constexpr uint32_t ENTRY_ATTRIBUTES = 11;
constexpr uint32_t ENTRY_CASE = 12;
constexpr uint32_t ENTRY_CLUSTER_HIGH = 20;  // FAT32 only
constexpr uint32_t ENTRY_CLUSTER_LOW = 26;
constexpr uint32_t ENTRY_SIZE = 28;
// First name byte.
constexpr uint8_t ENTRY_END = 0x00;
constexpr uint8_t ENTRY_DELETED = 0xE5;
constexpr uint8_t ENTRY_KANJI_E5 = 0x05;  // a first byte of E5 stored as 05
// Attribute bits.
constexpr uint8_t ATTRIBUTE_VOLUME_LABEL = 0x08;
constexpr uint8_t ATTRIBUTE_FOLDER = 0x10;
constexpr uint8_t ATTRIBUTE_LONG_NAME = 0x0F;  // all four low bits: a long-name slot
// Case byte: the short name's parts are shown in lower case.
constexpr uint8_t CASE_LOWER_BASE = 0x08;
constexpr uint8_t CASE_LOWER_EXTENSION = 0x10;
// Long-name slots.
constexpr uint8_t LONG_NAME_LAST = 0x40;
constexpr uint8_t LONG_NAME_ORDER = 0x1F;
constexpr uint32_t LONG_NAME_CHECKSUM = 13;
constexpr uint32_t LONG_NAME_CHARS = 13;
