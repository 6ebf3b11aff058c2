#include "fat/boot_sector_fields.h"

#include "disk/raw_disk.h"
#include "fat/fat_geometry.h"
#include "fat/fat_layout.h"

std::string shownFieldText(const uint8_t* bytes, std::size_t length) {
    while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
            text += static_cast<char>(bytes[i]);
        } else {
            text += escapedByte(bytes[i]);
        }
    }
    return text;
}

std::string escapedByte(uint8_t byte) {
    static const char HEX[] = "0123456789ABCDEF";
    return {'\\', 'x', HEX[byte >> 4], HEX[byte & 0xF]};
}

FatBootSector parseFatBootSector(const uint8_t* sector) {
    FatBootSector boot;
    boot.signature = sector[BOOT_SIGNATURE] == 0x55 && sector[BOOT_SIGNATURE + 1] == 0xAA;
    boot.sectorsPerCluster = sector[BOOT_SECTORS_PER_CLUSTER];
    boot.reservedSectors = loadLe16(sector + BOOT_RESERVED_SECTORS);
    boot.fatCount = sector[BOOT_FAT_COUNT];
    boot.rootEntries = loadLe16(sector + BOOT_ROOT_ENTRIES);
    const uint32_t total16 = loadLe16(sector + BOOT_TOTAL_SECTORS_16);
    boot.totalSectors = total16 != 0 ? total16 : loadLe32(sector + BOOT_TOTAL_SECTORS_32);
    const uint32_t fatSectors16 = loadLe16(sector + BOOT_FAT_SECTORS_16);
    // FAT32 keeps the FAT size in its own fields and has no fixed root directory.
    boot.fatType = fatSectors16 == 0 ? 32 : 16;
    const bool fat32 = boot.fatType == 32;
    boot.fatSectors = fatSectors16 != 0 ? fatSectors16 : loadLe32(sector + BOOT_FAT_SECTORS_32);
    boot.rootCluster = fat32 ? loadLe32(sector + BOOT_ROOT_CLUSTER) : 0;
    boot.fsInfoSector = fat32 ? loadLe16(sector + BOOT_FSINFO_SECTOR) : 0;
    boot.backupSector = fat32 ? loadLe16(sector + BOOT_BACKUP_SECTOR) : 0;
    const uint8_t* extended = sector + bootExtendedBlock(boot.fatType);
    boot.label = shownFieldText(extended + EXTENDED_LABEL, VOLUME_LABEL_BYTES);
    boot.media = sector[BOOT_MEDIA];
    boot.dirty = (extended[EXTENDED_FLAGS] & 1) != 0;
    boot.layout = loadLe16(sector + BOOT_BYTES_PER_SECTOR) == SECTOR_BYTES &&
                  isFatClusterSize(uint64_t(boot.sectorsPerCluster) * SECTOR_BYTES) &&
                  boot.reservedSectors != 0 && boot.fatCount != 0 && boot.fatSectors != 0 &&
                  boot.totalSectors != 0 &&
                  (fat32 ? boot.rootEntries == 0 && boot.rootCluster >= 2 : boot.rootEntries != 0);
    return boot;
}
