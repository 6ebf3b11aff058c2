#include "fat/fat_sectors.h"

#include "disk/raw_disk.h"
#include "platform/little_endian.h"

#include <cstring>

namespace {

constexpr uint8_t stubCode[] = {0x0E, 0x1F, 0xBE, 0x5B, 0x7C, 0xAC, 0x22, 0xC0, 0x74, 0x0B,
                                0x56, 0xB4, 0x0E, 0xBB, 0x07, 0x00, 0xCD, 0x10, 0x5E, 0xEB,
                                0xF0, 0x32, 0xE4, 0xCD, 0x16, 0xCD, 0x19, 0xEB, 0xFE};
constexpr char stubText[] =
    "This is not a bootable disk.  Please insert a bootable floppy and\r\n"
    "press any key to try again ... \r\n";

// The code points SI at 0x7C00 + 0x3E + sizeof(stubCode), where the text follows it.
static_assert(sizeof(stubCode) == 29, "stub text offset is fixed in the code");
static_assert(sizeof(stubCode) + sizeof(stubText) <= NON_BOOTABLE_STUB_BYTES, "stub too long");

struct StubImage {
    uint8_t bytes[NON_BOOTABLE_STUB_BYTES] = {};
    StubImage()
    {
        std::memcpy(bytes, stubCode, sizeof(stubCode));
        std::memcpy(bytes + sizeof(stubCode), stubText, sizeof(stubText));  // with its zero
    }
};

bool continuationByte(char c)
{
    return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}

// Bytes of the UTF-8 character that `lead` starts; 0 when it starts none.
size_t utf8Length(char lead)
{
    const uint8_t b = static_cast<uint8_t>(lead);
    return b >= 0xF0 && b <= 0xF7 ? 4 : b >= 0xE0 ? (b <= 0xEF ? 3 : 0) : b >= 0xC0 ? 2 : 0;
}

// How much of the label fits the 11-byte field: all of a shorter one, else 11
// bytes, or fewer when the 11th byte would end inside a UTF-8 character.
// Bytes that are not UTF-8 are cut at 11 as they stand.
size_t labelBytes(const char* label)
{
    size_t length = 0;
    while (label && length < VOLUME_LABEL_BYTES && label[length] != '\0')
        ++length;
    if (length < VOLUME_LABEL_BYTES || !continuationByte(label[length]))
        return length;
    size_t start = length;
    while (start > 0 && length - start < 3 && continuationByte(label[start - 1]))
        --start;
    if (start == 0)
        return length;
    const size_t lead = start - 1;
    const size_t size = utf8Length(label[lead]);
    if (lead + size <= length)
        return length;
    for (size_t i = lead + 1; i < lead + size; ++i)
        if (!continuationByte(label[i]))
            return length;
    return lead;
}

// The label's bytes as labelBytes cuts them, zero bytes after; no case change.
void putLabel(uint8_t* at, const char* label)
{
    std::memset(at, 0, VOLUME_LABEL_BYTES);
    const size_t length = labelBytes(label);
    if (length > 0)
        std::memcpy(at, label, length);
}

}  // namespace

const uint8_t* nonBootableStub()
{
    static const StubImage stub;
    return stub.bytes;
}

void buildBootSector(const FatGeometry& g, uint32_t heads, uint32_t sectorsPerTrack,
                     const char* label, uint8_t* sector)
{
    const bool fat32 = g.fatType == 32;
    std::memset(sector, 0, SECTOR_BYTES);
    // Short jump over the parameter block to the boot code.
    sector[0] = 0xEB;
    sector[1] = fat32 ? 0x58 : 0x3C;
    sector[2] = 0x90;
    std::memcpy(sector + 0x03, "MSWIN4.1", 8);
    storeLe16(sector + BOOT_BYTES_PER_SECTOR, SECTOR_BYTES);
    sector[BOOT_SECTORS_PER_CLUSTER] = static_cast<uint8_t>(g.sectorsPerCluster);
    storeLe16(sector + BOOT_RESERVED_SECTORS, g.reservedSectors);
    sector[BOOT_FAT_COUNT] = 2;
    storeLe16(sector + BOOT_ROOT_ENTRIES, fat32 ? 0 : 512);
    const bool small = g.partitionSectors < 65536;
    storeLe16(sector + BOOT_TOTAL_SECTORS_16, small ? g.partitionSectors : 0);
    sector[BOOT_MEDIA] = MEDIA_FIXED_DISK;
    storeLe16(sector + BOOT_FAT_SECTORS_16, fat32 ? 0 : g.fatSectors);
    storeLe16(sector + BOOT_SECTORS_PER_TRACK, sectorsPerTrack);
    storeLe16(sector + BOOT_HEADS, heads);
    storeLe32(sector + BOOT_HIDDEN_SECTORS, 0);  // the partition start is not recorded
    storeLe32(sector + BOOT_TOTAL_SECTORS_32, small ? 0 : g.partitionSectors);

    if (fat32) {
        storeLe32(sector + BOOT_FAT_SECTORS_32, g.fatSectors);
        storeLe16(sector + BOOT_FAT32_FLAGS, 0);  // FATs mirrored
        storeLe16(sector + BOOT_FAT32_VERSION, 0);
        storeLe32(sector + BOOT_ROOT_CLUSTER, 2);
        storeLe16(sector + BOOT_FSINFO_SECTOR, 1);
        storeLe16(sector + BOOT_BACKUP_SECTOR, 6);
    }
    uint8_t* extended = sector + bootExtendedBlock(g.fatType);
    extended[EXTENDED_DRIVE] = 0x00;
    extended[EXTENDED_SIGNATURE] = EXTENDED_SIGNATURE_VALUE;
    storeLe32(extended + EXTENDED_SERIAL, 0);  // no serial number
    putLabel(extended + EXTENDED_LABEL, label);
    std::memcpy(extended + EXTENDED_TYPE_NAME, fat32 ? "FAT32   " : "FAT16   ", 8);
    std::memcpy(extended + EXTENDED_CODE, nonBootableStub(), NON_BOOTABLE_STUB_BYTES);
    sector[BOOT_SIGNATURE] = 0x55;
    sector[BOOT_SIGNATURE + 1] = 0xAA;
}

void buildFsInfoSector(const FatGeometry& g, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    storeLe32(sector + FSINFO_LEAD, FSINFO_LEAD_SIGNATURE);
    storeLe32(sector + FSINFO_STRUCTURE, FSINFO_STRUCTURE_SIGNATURE);
    storeLe32(sector + FSINFO_FREE_COUNT, freeClustersOf(g));
    storeLe32(sector + FSINFO_NEXT_FREE, 3);
    storeLe32(sector + FSINFO_TRAIL, FSINFO_TRAIL_SIGNATURE);
}

void buildFirstFatSector(int fatType, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    storeFatEntry(fatType, sector, 0, fatMediaEntry(fatType, MEDIA_FIXED_DISK));
    storeFatEntry(fatType, sector, 1, fatLastCluster(fatType));
    if (fatType == 32)
        storeFatEntry(fatType, sector, 2, fatLastCluster(fatType));  // the one-cluster root directory
}

void buildFirstRootSector(const char* label, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    if (!label || label[0] == '\0' || std::strcmp(label, "           ") == 0)
        return;
    putLabel(sector, label);
    sector[ENTRY_ATTRIBUTES] = ATTRIBUTE_VOLUME_LABEL;
}
