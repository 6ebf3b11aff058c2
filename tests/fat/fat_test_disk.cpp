#include "fat_test_disk.h"

#include "disk/raw_disk.h"

FatTestDisk::FatTestDisk(uint64_t sectors, uint32_t driveHeads, uint32_t driveSectorsPerTrack)
{
    platform::SimDrive& drive = addCard(0, sectors * 512, "Generic", "CF Card");
    drive.heads = driveHeads;
    drive.sectorsPerTrack = driveSectorsPerTrack;
    image = drive.imagePath;
}

FatTestDisk::~FatTestDisk()
{
    if (handle != platform::INVALID_HANDLE_VALUE)
        releaseDisk(handle);
}

void FatTestDisk::writeMbr(const std::vector<Entry>& entries)
{
    SectorBytes mbr(512, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = mbr.data() + 446 + 16 * i;
        for (int b = 0; b < 4; ++b) {
            e[8 + b] = static_cast<uint8_t>(entries[i].start >> (8 * b));
            e[12 + b] = static_cast<uint8_t>(entries[i].count >> (8 * b));
        }
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    putSector(0, mbr);
}

bool FatTestDisk::open()
{
    return openPhysicalDrive("\\\\.\\PhysicalDrive0", handle, diskSectors, heads,
                             sectorsPerTrack);
}

SectorBytes FatTestDisk::pattern(uint8_t seed)
{
    SectorBytes bytes(512);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + 1);
    return bytes;
}

uint16_t le16(const SectorBytes& s, size_t at)
{
    return static_cast<uint16_t>(s[at] | s[at + 1] << 8);
}

uint32_t le32(const SectorBytes& s, size_t at)
{
    return uint32_t(le16(s, at)) | uint32_t(le16(s, at + 2)) << 16;
}
