#include "tools/fat_reader.h"

#include "disk/raw_disk.h"
#include "platform/little_endian.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr uint32_t DIRECTORY_ENTRY_BYTES = 32;
constexpr uint8_t ATTRIBUTE_VOLUME_LABEL = 0x08;
constexpr uint8_t ATTRIBUTE_FOLDER = 0x10;
constexpr uint8_t ATTRIBUTE_LONG_NAME = 0x0F;
constexpr uint8_t ENTRY_END = 0x00;
constexpr uint8_t ENTRY_DELETED = 0xE5;
constexpr uint8_t ENTRY_KANJI_E5 = 0x05;  // a first byte of E5 stored as 05
constexpr uint32_t FAT16_END_OF_CHAIN = 0xFFF8;
constexpr uint32_t FAT32_END_OF_CHAIN = 0x0FFFFFF8;
constexpr uint32_t FAT32_CLUSTER_MASK = 0x0FFFFFFF;

std::string trimmedText(const uint8_t* bytes, std::size_t length) {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool powerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

FatBootSector parseFatBootSector(const uint8_t* sector) {
    FatBootSector boot;
    boot.signature = sector[510] == 0x55 && sector[511] == 0xAA;
    boot.sectorsPerCluster = sector[13];
    boot.reservedSectors = loadLe16(sector + 14);
    boot.fatCount = sector[16];
    boot.rootEntries = loadLe16(sector + 17);
    boot.totalSectors = loadLe16(sector + 19) != 0 ? loadLe16(sector + 19) : loadLe32(sector + 32);
    const uint32_t fatSectors16 = loadLe16(sector + 22);
    // FAT32 keeps the FAT size in its extended block and has no fixed root directory.
    boot.fatType = fatSectors16 == 0 ? 32 : 16;
    boot.fatSectors = fatSectors16 != 0 ? fatSectors16 : loadLe32(sector + 36);
    boot.rootCluster = boot.fatType == 32 ? loadLe32(sector + 44) : 0;
    boot.label = trimmedText(sector + (boot.fatType == 32 ? 71 : 43), 11);
    boot.layout = loadLe16(sector + 11) == SECTOR_BYTES && powerOfTwo(boot.sectorsPerCluster) &&
                  boot.reservedSectors != 0 && boot.fatCount != 0 && boot.fatSectors != 0 &&
                  boot.totalSectors != 0 &&
                  (boot.fatType == 32 ? boot.rootEntries == 0 && boot.rootCluster >= 2
                                      : boot.rootEntries != 0);
    return boot;
}

FatReader::FatReader(platform::Handle handle, uint32_t partitionStart, const FatBootSector& boot)
    : handle_(handle), partitionStart_(partitionStart), boot_(boot) {
    const uint32_t rootSectors =
        boot.fatType == 16 ? (boot.rootEntries * DIRECTORY_ENTRY_BYTES + SECTOR_BYTES - 1) / SECTOR_BYTES
                           : 0;
    dataStart_ = boot.reservedSectors + boot.fatCount * boot.fatSectors + rootSectors;
    if (boot.layout && boot.totalSectors > dataStart_)
        clusterCount_ = (boot.totalSectors - dataStart_) / boot.sectorsPerCluster;
}

FatLookup FatReader::find(const std::string& path, uint32_t& size) {
    if (!boot_.layout) return FatLookup::Unreadable;
    std::vector<Entry> entries;
    if (!readRootDirectory(entries)) return FatLookup::Unreadable;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string name = upper(path.substr(start, slash == std::string::npos
                                                              ? std::string::npos
                                                              : slash - start));
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const Entry& e) { return e.name == name; });
        if (entry == entries.end()) return FatLookup::Missing;
        if (slash == std::string::npos) {
            size = entry->size;
            return entry->folder ? FatLookup::Folder : FatLookup::File;
        }
        if (!entry->folder) return FatLookup::Missing;
        const uint32_t cluster = entry->cluster;
        entries.clear();
        if (!readDirectory(cluster, entries)) return FatLookup::Unreadable;
        start = slash + 1;
    }
}

bool FatReader::readRootDirectory(std::vector<Entry>& entries) {
    if (boot_.fatType == 32) return readDirectory(boot_.rootCluster, entries);
    const uint32_t first = boot_.reservedSectors + boot_.fatCount * boot_.fatSectors;
    uint8_t sector[SECTOR_BYTES];
    bool ended = false;
    for (uint32_t i = 0; !ended && i < dataStart_ - first; ++i) {
        if (!readRelative(first + i, sector)) return false;
        collect(sector, entries, ended);
    }
    return true;
}

bool FatReader::readDirectory(uint32_t cluster, std::vector<Entry>& entries) {
    uint8_t sector[SECTOR_BYTES];
    bool ended = false;
    // A chain can hold each cluster at most once; a longer one loops.
    for (uint32_t visited = 0; !ended; ++visited) {
        if (cluster < 2 || cluster - 2 >= clusterCount_ || visited >= clusterCount_) return false;
        const uint32_t first = dataStart_ + (cluster - 2) * boot_.sectorsPerCluster;
        for (uint32_t i = 0; !ended && i < boot_.sectorsPerCluster; ++i) {
            if (!readRelative(first + i, sector)) return false;
            collect(sector, entries, ended);
        }
        if (ended) break;
        uint32_t next = 0;
        if (!nextCluster(cluster, next)) return false;
        const uint32_t endOfChain = boot_.fatType == 32 ? FAT32_END_OF_CHAIN : FAT16_END_OF_CHAIN;
        if (next >= endOfChain) break;
        cluster = next;
    }
    return true;
}

void FatReader::collect(const uint8_t* sector, std::vector<Entry>& entries, bool& ended) {
    for (uint32_t offset = 0; offset < SECTOR_BYTES; offset += DIRECTORY_ENTRY_BYTES) {
        const uint8_t* raw = sector + offset;
        if (raw[0] == ENTRY_END) {
            ended = true;
            return;
        }
        const uint8_t attributes = raw[11];
        if (raw[0] == ENTRY_DELETED || attributes == ATTRIBUTE_LONG_NAME ||
            (attributes & ATTRIBUTE_VOLUME_LABEL) != 0)
            continue;
        Entry entry;
        uint8_t base[8];
        std::memcpy(base, raw, sizeof base);
        if (base[0] == ENTRY_KANJI_E5) base[0] = ENTRY_DELETED;
        entry.name = upper(trimmedText(base, 8));
        const std::string extension = upper(trimmedText(raw + 8, 3));
        if (!extension.empty()) entry.name += "." + extension;
        entry.folder = (attributes & ATTRIBUTE_FOLDER) != 0;
        entry.cluster = uint32_t(loadLe16(raw + 26)) |
                        (boot_.fatType == 32 ? uint32_t(loadLe16(raw + 20)) << 16 : 0);
        entry.size = loadLe32(raw + 28);
        entries.push_back(entry);
    }
}

bool FatReader::nextCluster(uint32_t cluster, uint32_t& next) {
    const uint32_t entryBytes = boot_.fatType == 32 ? 4 : 2;
    const uint32_t byteOffset = cluster * entryBytes;
    uint8_t sector[SECTOR_BYTES];
    if (!readRelative(boot_.reservedSectors + byteOffset / SECTOR_BYTES, sector)) return false;
    const uint8_t* entry = sector + byteOffset % SECTOR_BYTES;
    next = boot_.fatType == 32 ? loadLe32(entry) & FAT32_CLUSTER_MASK : loadLe16(entry);
    return true;
}

bool FatReader::readRelative(uint32_t sector, uint8_t* buffer) {
    return readSector(handle_, partitionStart_ + sector, buffer);
}
