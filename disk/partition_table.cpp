#include "disk/partition_table.h"

#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "util/debug.h"
#include "platform/little_endian.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr uint32_t FIRST_PARTITION_LBA = 256;
// A GPT's header ("EFI PART" at its start) and its 128 entries of 128 bytes:
// the primary copy in LBAs 1 to 33, the backup in the disk's last 33 sectors,
// header last.
constexpr char GPT_SIGNATURE[] = "EFI PART";
constexpr uint32_t GPT_SECTORS = 33;

bool holdsGptHeader(platform::Handle handle, uint32_t lba) {
    uint8_t sector[SECTOR_BYTES];
    return !readSectors(handle, lba, 1, sector) &&
           std::memcmp(sector, GPT_SIGNATURE, sizeof GPT_SIGNATURE - 1) == 0;
}

uint32_t sizeInSectors(int32_t entry, uint32_t diskSectors, uint32_t start) {
    if (entry < 0) return (static_cast<uint32_t>(entry) & 0x7FFFFFFFu) * 2;
    const uint64_t product = uint64_t(diskSectors - start) * uint32_t(entry);
    return static_cast<uint32_t>(product / 100);
}

struct Entry {
    uint32_t first;
    uint32_t count;
};

// Works out the entries the size list asks for; false when one would be empty.
bool layOut(uint32_t diskSectors, uint32_t heads, uint32_t sectorsPerTrack, const int32_t* sizeList,
            Entry* entries, int& entryCount) {
    const uint32_t sectorsPerCylinder = heads * sectorsPerTrack;
    uint32_t start = sectorsPerTrack > FIRST_PARTITION_LBA ? sectorsPerTrack : FIRST_PARTITION_LBA;
    entryCount = 0;
    for (int i = 0; i < int(MBR_ENTRIES) && sizeList[i] != 0; ++i) {
        // A start past the disk would make the percentage wrap around.
        if (start >= diskSectors) return false;
        const uint32_t unroundedEnd = start + sizeInSectors(sizeList[i], diskSectors, start);
        uint32_t cylinders = unroundedEnd / sectorsPerCylinder;
        // Rounds up from a third of a cylinder on; summed in 64 bits so that a
        // disk near 2^32 sectors does not wrap.
        if ((uint64_t(unroundedEnd) + 2 * sectorsPerCylinder / 3) / sectorsPerCylinder != cylinders)
            ++cylinders;
        while (uint64_t(cylinders) * sectorsPerCylinder > diskSectors) --cylinders;
        const uint32_t end = cylinders * sectorsPerCylinder;
        if (end <= start) return false;
        entries[i] = {start, end - start};
        ++entryCount;
        start = end;
    }
    return true;
}

void fillEntry(uint8_t* e, const Entry& entry, uint32_t heads, uint32_t sectorsPerTrack) {
    const ChsBytes first = chsOf(entry.first, heads, sectorsPerTrack);
    const ChsBytes last = chsOf(entry.first + entry.count - 1, heads, sectorsPerTrack);
    e[0] = 0x00;  // no partition is marked active
    e[1] = first.head;
    e[2] = first.sector;
    e[3] = first.cylinder;
    e[MBR_ENTRY_TYPE] = 0x00;  // the formatter fills in the type
    e[5] = last.head;
    e[6] = last.sector;
    e[7] = last.cylinder;
    storeLe32(e + MBR_ENTRY_FIRST_SECTOR, entry.first);
    storeLe32(e + MBR_ENTRY_SECTOR_COUNT, entry.count);
}

}  // namespace

PartitionEntryFields readPartitionEntry(const uint8_t* mbr, uint32_t index) {
    const uint8_t* raw = mbr + MBR_ENTRY_TABLE_OFFSET + index * MBR_ENTRY_BYTES;
    PartitionEntryFields entry;
    entry.type = raw[MBR_ENTRY_TYPE];
    entry.first = loadLe32(raw + MBR_ENTRY_FIRST_SECTOR);
    entry.count = loadLe32(raw + MBR_ENTRY_SECTOR_COUNT);
    for (uint32_t i = 0; i < MBR_ENTRY_BYTES; ++i) entry.used = entry.used || raw[i] != 0;
    return entry;
}

ChsBytes chsOf(uint32_t lba, uint32_t heads, uint32_t sectorsPerTrack) {
    const uint32_t sectorsPerCylinder = heads * sectorsPerTrack;
    const uint32_t cylinder = lba / sectorsPerCylinder;
    const uint32_t inCylinder = lba % sectorsPerCylinder;
    const uint32_t head = inCylinder / sectorsPerTrack;
    const uint32_t sector = inCylinder % sectorsPerTrack + 1;
    return {uint8_t(head & 0xFF), uint8_t(sector | ((cylinder >> 2) & 0xC0)), uint8_t(cylinder & 0xFF)};
}

bool partitionExtent(uint32_t diskSectors, uint32_t heads, uint32_t sectorsPerTrack,
                     const int32_t* sizeList, uint32_t index, uint32_t& first, uint32_t& count) {
    Entry entries[MBR_ENTRIES] = {};
    int entryCount = 0;
    if (heads == 0 || sectorsPerTrack == 0 ||
        !layOut(diskSectors, heads, sectorsPerTrack, sizeList, entries, entryCount) ||
        index >= static_cast<uint32_t>(entryCount))
        return false;
    first = entries[index].first;
    count = entries[index].count;
    return true;
}

bool writePartitionTable(platform::Handle handle, uint32_t diskSectors, uint32_t heads,
                         uint32_t sectorsPerTrack, const int32_t* sizeList) {
    if (heads == 0 || sectorsPerTrack == 0) {
        debugPrint("Cannot partition a disk with %u heads and %u sectors per track\n", heads,
                   sectorsPerTrack);
        return false;
    }
    Entry entries[MBR_ENTRIES] = {};
    int entryCount = 0;
    if (!layOut(diskSectors, heads, sectorsPerTrack, sizeList, entries, entryCount)) {
        debugPrint("Disk of %u sectors is too small for the partition layout\n", diskSectors);
        return false;
    }

    uint8_t sector[SECTOR_BYTES] = {};
    std::srand(static_cast<unsigned>(static_cast<uint32_t>(std::time(nullptr))));
    const uint32_t firstDraw = static_cast<uint32_t>(std::rand()) & 0x7FFF;
    const uint32_t secondDraw = static_cast<uint32_t>(std::rand()) & 0x7FFF;
    storeLe32(sector + MBR_SIGNATURE_OFFSET, firstDraw << 16 | secondDraw);
    sector[MBR_BOOT_SIGNATURE] = 0x55;
    sector[MBR_BOOT_SIGNATURE + 1] = 0xAA;
    for (int i = 0; i < entryCount; ++i)
        fillEntry(sector + MBR_ENTRY_TABLE_OFFSET + MBR_ENTRY_BYTES * i, entries[i], heads, sectorsPerTrack);

    // A GPT the card held goes with both its copies: left behind, tools that
    // look for a GPT find the backup and offer to restore it over the new
    // table. A card without one gets no other writes than the first track.
    const bool gpt = holdsGptHeader(handle, 1) || holdsGptHeader(handle, diskSectors - 1);
    const uint32_t headSectors = gpt ? std::max(sectorsPerTrack, GPT_SECTORS + 1) : sectorsPerTrack;
    // The disk is larger than the layout's first partition start: no overlap.
    const uint32_t tailSectors = gpt ? GPT_SECTORS : 0;
    const uint32_t tailLba = diskSectors - tailSectors;

    // Sector 0 and the rest of the first track in one request where they fit.
    const uint32_t trackSectors = std::min(headSectors, RUN_SECTORS);
    std::vector<uint8_t> track(size_t(trackSectors) * SECTOR_BYTES);
    std::memcpy(track.data(), sector, SECTOR_BYTES);
    if (writeSectors(handle, 0, trackSectors, track.data())) return false;
    if (writeZeroSectors(handle, trackSectors, headSectors - trackSectors)) return false;
    if (writeZeroSectors(handle, tailLba, tailSectors)) return false;

    // Read back: a card that does not keep the table is no card to format.
    SectorFault fault = verifySectors(handle, 0, trackSectors, track.data());
    if (!fault) fault = verifyZeroSectors(handle, trackSectors, headSectors - trackSectors);
    if (!fault) fault = verifyZeroSectors(handle, tailLba, tailSectors);
    if (fault) {
        printSectorFault(fault, true);
        return false;
    }
    return true;
}

bool readPartitionPlace(platform::Handle handle, uint32_t index, PartitionPlace& place) {
    if (index >= MBR_ENTRIES) return false;
    uint8_t mbr[SECTOR_BYTES];
    if (!readSector(handle, 0, mbr)) return false;
    const uint8_t* entry = mbr + MBR_ENTRY_TABLE_OFFSET + index * MBR_ENTRY_BYTES;
    place.firstSector = loadLe32(entry + MBR_ENTRY_FIRST_SECTOR);
    place.sectors = loadLe32(entry + MBR_ENTRY_SECTOR_COUNT);
    return entry[MBR_ENTRY_TYPE] != 0 && place.sectors != 0;
}
