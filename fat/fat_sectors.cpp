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
    storeLe16(sector + 0x0B, SECTOR_BYTES);
    sector[0x0D] = static_cast<uint8_t>(g.sectorsPerCluster);
    storeLe16(sector + 0x0E, g.reservedSectors);
    sector[0x10] = 2;
    storeLe16(sector + 0x11, fat32 ? 0 : 512);
    const bool small = g.partitionSectors < 65536;
    storeLe16(sector + 0x13, small ? g.partitionSectors : 0);
    sector[0x15] = 0xF8;
    storeLe16(sector + 0x16, fat32 ? 0 : g.fatSectors);
    storeLe16(sector + 0x18, sectorsPerTrack);
    storeLe16(sector + 0x1A, heads);
    storeLe32(sector + 0x1C, 0);  // hidden sectors: the partition start is not recorded
    storeLe32(sector + 0x20, small ? 0 : g.partitionSectors);

    uint8_t* extended = sector + 0x24;
    if (fat32) {
        storeLe32(sector + 0x24, g.fatSectors);
        storeLe16(sector + 0x28, 0);  // FATs mirrored
        storeLe16(sector + 0x2A, 0);
        storeLe32(sector + 0x2C, 2);  // root directory cluster
        storeLe16(sector + 0x30, 1);  // FSInfo sector
        storeLe16(sector + 0x32, 6);  // backup boot sector
        extended = sector + 0x40;
    }
    extended[0] = 0x00;  // drive number
    extended[2] = 0x29;  // extended boot signature
    storeLe32(extended + 3, 0);  // no serial number
    putLabel(extended + 7, label);
    std::memcpy(extended + 18, fat32 ? "FAT32   " : "FAT16   ", 8);
    std::memcpy(extended + 26, nonBootableStub(), NON_BOOTABLE_STUB_BYTES);
    sector[0x1FE] = 0x55;
    sector[0x1FF] = 0xAA;
}

void buildFsInfoSector(const FatGeometry& g, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    storeLe32(sector + 0x000, 0x41615252);
    storeLe32(sector + 0x1E4, 0x61417272);
    // Every data cluster but the root directory's is free.
    storeLe32(sector + 0x1E8, clusterCountOf(g) - 1);
    storeLe32(sector + 0x1EC, 3);
    storeLe32(sector + 0x1FC, 0xAA550000);
}

void buildFirstFatSector(int fatType, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    if (fatType == 32) {
        storeLe32(sector + 0, 0x0FFFFFF8);
        storeLe32(sector + 4, 0x0FFFFFFF);
        storeLe32(sector + 8, 0x0FFFFFFF);  // the root directory is one cluster long
    } else {
        storeLe16(sector + 0, 0xFFF8);
        storeLe16(sector + 2, 0xFFFF);
    }
}

void buildFirstRootSector(const char* label, uint8_t* sector)
{
    std::memset(sector, 0, SECTOR_BYTES);
    if (!label || label[0] == '\0' || std::strcmp(label, "           ") == 0)
        return;
    putLabel(sector, label);
    sector[11] = 0x08;  // volume label attribute
}
