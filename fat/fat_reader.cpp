#include "fat/fat_reader.h"

#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "fat/fat_layout.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void appendUtf8(std::string& text, uint32_t c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Short names hold characters outside ASCII in an OEM code page. The cards'
// files are written with code page 850 (mtools' default, and Windows' in
// Western Europe), so the bytes from 0x80 on are read through it.
constexpr uint16_t CODE_PAGE_850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// The text of a short name's base or extension: trailing spaces dropped,
// code-page bytes as their characters, lower-cased when the entry's case flag
// says so, control bytes shown as \xNN.
std::string shortNamePart(const uint8_t* bytes, std::size_t length, bool lowerCase) {
    while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t c = bytes[i];
        // 0xFF is a no-break space there: shown as its byte, like control bytes.
        if (c >= 0x80 && c != 0xFF) {
            uint32_t character = CODE_PAGE_850[c - 0x80];
            // Latin-1's capitals lie 0x20 below their small letters (0xD7 is ×).
            if (lowerCase && character >= 0xC0 && character <= 0xDE && character != 0xD7)
                character += 0x20;
            appendUtf8(text, character);
        } else if (c >= 0x20 && c < 0x7F) {
            text += lowerCase ? static_cast<char>(std::tolower(c)) : static_cast<char>(c);
        } else {
            text += escapedByte(c);
        }
    }
    return text;
}

// Control characters, the characters FAT forbids, a leading or embedded space
// and unknown case flags.
bool badShortName(const uint8_t* name) {
    // The case byte holds only the two lower-case flags.
    if ((name[ENTRY_CASE] & ~(CASE_LOWER_BASE | CASE_LOWER_EXTENSION)) != 0) return true;
    static const char FORBIDDEN[] = "*?<>|\"\\/:.+,;=[]";
    for (int part = 0; part < 2; ++part) {
        const int first = part == 0 ? 0 : 8, last = part == 0 ? 8 : 11;
        bool space = false;
        for (int i = first; i < last; ++i) {
            const uint8_t c = (i == 0 && name[0] == ENTRY_KANJI_E5) ? 0xE5 : name[i];
            if (c == ' ') {
                if (i == 0) return true;
                space = true;
            } else if (space || c < 0x20 || c == 0x7F || std::strchr(FORBIDDEN, c) != nullptr) {
                return true;
            }
        }
    }
    return false;
}

uint8_t shortNameChecksum(const uint8_t* name) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < ENTRY_NAME_BYTES; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

}  // namespace

// Turns raw 32-byte entries into FatEntry records, joining long-name pieces
// to the short entry they belong to (checked by order and checksum).
class FatReader::EntryDecoder {
public:
    EntryDecoder(int fatType, const EntryVisitor& visit) : fatType_(fatType), visit_(visit) {}

    // False once the visitor has had enough.
    bool take(const uint8_t* raw) {
        const uint8_t attributes = raw[ENTRY_ATTRIBUTES];
        if (raw[0] == ENTRY_DELETED) {
            // Slots whose short entry is gone are orphans, not a deleted name.
            orphaned_ = orphaned_ || pieces_ != 0;
            pieces_ = 0;
            return true;
        }
        if (attributes == ATTRIBUTE_LONG_NAME) {
            takeLongNamePiece(raw);
            return true;
        }
        const bool longName = pieces_ != 0 && expected_ == 1 && checksum_ == shortNameChecksum(raw);
        // Slots that do not make up this entry's name: an orphaned long name.
        if (pieces_ != 0 && !longName) badLongNameSlot_ = true;
        pieces_ = 0;
        uint8_t base[8];
        std::memcpy(base, raw, sizeof base);
        if (base[0] == ENTRY_KANJI_E5) base[0] = ENTRY_DELETED;
        std::string name = shortNamePart(base, 8, (raw[ENTRY_CASE] & CASE_LOWER_BASE) != 0);
        const std::string extension =
            shortNamePart(raw + 8, 3, (raw[ENTRY_CASE] & CASE_LOWER_EXTENSION) != 0);
        if (!extension.empty()) name += "." + extension;
        FatEntry entry;
        // Readers take any entry with the label bit for a label, whatever
        // else it is marked: such a folder or file cannot be looked up.
        entry.label = (attributes & ATTRIBUTE_VOLUME_LABEL) != 0;
        entry.name = longName ? longName_ : name;
        if (entry.label) entry.labelText = shownFieldText(raw, VOLUME_LABEL_BYTES);
        if (!entry.label && std::memcmp(raw, ".          ", 11) == 0) entry.dots = 1;
        if (!entry.label && std::memcmp(raw, "..         ", 11) == 0) entry.dots = 2;
        entry.badLongName = badLongNameSlot_;
        badLongNameSlot_ = false;
        entry.folder = (attributes & ATTRIBUTE_FOLDER) != 0;
        // "." and ".." carry no case flags.
        entry.badShortName =
            entry.dots != 0 ? raw[ENTRY_CASE] != 0 || (attributes & ATTRIBUTE_VOLUME_LABEL) != 0
                            : !entry.label && badShortName(raw);
        entry.cluster = uint32_t(loadLe16(raw + ENTRY_CLUSTER_LOW)) |
                        (fatType_ == 32 ? uint32_t(loadLe16(raw + ENTRY_CLUSTER_HIGH)) << 16 : 0);
        entry.size = loadLe32(raw + ENTRY_SIZE);
        return visit_(entry);
    }

    // Slots no entry took up: before a deleted entry, or still waiting for
    // their entry where the folder ends.
    bool orphanedSlots() const { return orphaned_ || pieces_ != 0; }

private:
    void takeLongNamePiece(const uint8_t* raw) {
        // A slot's cluster field is always 0; old readers depend on it.
        if (loadLe16(raw + ENTRY_CLUSTER_LOW) != 0 || raw[ENTRY_CASE] != 0) badLongNameSlot_ = true;
        const uint32_t order = raw[0] & LONG_NAME_ORDER;
        if ((raw[0] & LONG_NAME_LAST) != 0) {
            pieces_ = order;
            checksum_ = raw[LONG_NAME_CHECKSUM];
            units_.assign(order * LONG_NAME_CHARS, 0xFFFF);
        } else if (pieces_ == 0 || order + 1 != expected_ || raw[LONG_NAME_CHECKSUM] != checksum_) {
            pieces_ = 0;  // out of order: the pieces gathered so far are orphans
            badLongNameSlot_ = true;
            return;
        }
        expected_ = order;
        if (order == 0) {
            pieces_ = 0;
            return;
        }
        static const uint32_t OFFSETS[LONG_NAME_CHARS] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (uint32_t i = 0; i < LONG_NAME_CHARS; ++i)
            units_[(order - 1) * LONG_NAME_CHARS + i] = loadLe16(raw + OFFSETS[i]);
        if (order == 1) {
            longName_.clear();
            for (uint16_t unit : units_) {
                if (unit == 0 || unit == 0xFFFF) break;
                // Control characters never reach a terminal.
                if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) unit = '?';
                appendUtf8(longName_, unit);
            }
        }
    }

    int fatType_;
    const EntryVisitor& visit_;
    uint32_t pieces_ = 0, expected_ = 0;
    bool badLongNameSlot_ = false, orphaned_ = false;
    uint8_t checksum_ = 0;
    std::vector<uint16_t> units_;
    std::string longName_;
};

FatReader::FatReader(platform::Handle handle, uint32_t partitionStart, uint32_t availableSectors,
                     const FatBootSector& boot, ReadBudget* budget)
    : handle_(handle), budget_(budget), partitionStart_(partitionStart), boot_(boot),
      run_(size_t(RUN_SECTORS) * SECTOR_BYTES) {
    if (!boot.layout) {
        problem_ = "its boot sector does not describe a FAT volume";
        return;
    }
    // Everything in 64 bits: the fields may be anything.
    const uint64_t real = std::min<uint64_t>(boot.totalSectors, availableSectors);
    const uint64_t rootSectors =
        boot.fatType == 16
            ? (uint64_t(boot.rootEntries) * DIRECTORY_ENTRY_BYTES + SECTOR_BYTES - 1) / SECTOR_BYTES
            : 0;
    const uint64_t rootStart = uint64_t(boot.reservedSectors) + uint64_t(boot.fatCount) * boot.fatSectors;
    const uint64_t dataStart = rootStart + rootSectors;
    if (dataStart >= real) {
        problem_ = "its FATs and root folder do not fit in the volume";
        return;
    }
    rootStart_ = static_cast<uint32_t>(rootStart);
    rootSectors_ = static_cast<uint32_t>(rootSectors);
    dataStart_ = static_cast<uint32_t>(dataStart);
    const uint64_t clusters = (real - dataStart) / boot.sectorsPerCluster;
    const uint64_t fatCapacity = uint64_t(boot.fatSectors) * SECTOR_BYTES / fatEntryBytes(boot.fatType);
    const uint64_t typeLimit = boot.fatType == 32 ? FAT32_BAD - 2 : FAT16_BAD - 2;
    if (clusters == 0) {
        problem_ = "it has no room for a single cluster";
        return;
    }
    if (clusters + 2 > fatCapacity) {
        problem_ = "its FAT of " + std::to_string(boot.fatSectors) + " sectors cannot describe its " +
                   std::to_string(clusters) + " clusters";
        return;
    }
    if (clusters > typeLimit) {
        problem_ = "it has more clusters than FAT" + std::to_string(boot.fatType) + " can number";
        return;
    }
    clusterCount_ = static_cast<uint32_t>(clusters);
}

uint32_t FatReader::clusterBytes() const {
    return boot_.sectorsPerCluster * SECTOR_BYTES;
}

bool FatReader::fatEntry(uint32_t copy, uint32_t cluster, uint32_t& value) {
    const uint64_t byteOffset = uint64_t(cluster) * fatEntryBytes(boot_.fatType);
    const uint32_t sector =
        boot_.reservedSectors + copy * boot_.fatSectors + static_cast<uint32_t>(byteOffset / SECTOR_BYTES);
    if (sector != cachedFatSector_) {
        cachedFatSector_ = 0xFFFFFFFF;
        if (!readRelative(sector, cache_)) return false;
        cachedFatSector_ = sector;
    }
    value = loadFatEntry(boot_.fatType, cache_ + byteOffset % SECTOR_BYTES, 0);
    return true;
}

bool FatReader::isEndOfChain(uint32_t value) const {
    return value >= (boot_.fatType == 32 ? FAT32_END_OF_CHAIN : FAT16_END_OF_CHAIN);
}

bool FatReader::isBadCluster(uint32_t value) const {
    return value == (boot_.fatType == 32 ? FAT32_BAD : FAT16_BAD);
}

uint32_t FatReader::folderClusterLimit() const {
    const uint32_t bytes = MAX_FOLDER_ENTRIES * DIRECTORY_ENTRY_BYTES;
    return (bytes + clusterBytes() - 1) / clusterBytes();
}

ChainEnd FatReader::chain(uint32_t first, ClusterMarks& marks, std::vector<uint32_t>* clusters,
                          uint32_t& length, uint32_t& where, uint32_t collect, uint32_t follow) {
    length = 0;
    uint32_t cluster = first;
    // Every step marks a cluster not marked before, so a chain ends within
    // clusterCount() steps whatever the FAT says.
    for (;;) {
        where = cluster;
        if (length >= follow) return ChainEnd::Cut;
        if (cluster < 2 || cluster - 2 >= clusterCount_) return ChainEnd::OutOfRange;
        if (marks[cluster]) {
            // Ours when it lies on the way from `first`: a loop.
            uint32_t step = first, next = 0;
            for (uint32_t i = 0; i < length; ++i) {
                if (step == cluster) return ChainEnd::Loop;
                if (!fatEntry(0, step, next)) break;
                step = next;
            }
            return ChainEnd::CrossLink;
        }
        marks[cluster] = true;
        ++length;
        if (clusters != nullptr && length <= collect) clusters->push_back(cluster);
        uint32_t next = 0;
        if (!fatEntry(0, cluster, next)) return ChainEnd::Unreadable;
        if (isEndOfChain(next)) return ChainEnd::Complete;
        where = next;
        if (next == 0) return ChainEnd::Free;
        if (isBadCluster(next)) return ChainEnd::Bad;
        cluster = next;
    }
}

bool FatReader::readFile(const FatEntry& entry, const Consumer& consume) {
    if (!problem_.empty() || entry.folder) return false;
    if (entry.size == 0) return entry.cluster == 0;
    std::vector<uint32_t> clusters;
    uint32_t length = 0, where = 0;
    scratch_.assign(fatEntryCount(), false);
    const ChainEnd end = chain(entry.cluster, scratch_, &clusters, length, where);
    const uint64_t needed = (uint64_t(entry.size) + clusterBytes() - 1) / clusterBytes();
    if (end != ChainEnd::Complete || length != needed) return false;
    uint32_t left = entry.size;
    bool read = true;
    forEachRun(clusters, [&](uint32_t first, uint32_t count) {
        // Only the sectors that hold the file's bytes.
        count = std::min<uint32_t>(count, (left + SECTOR_BYTES - 1) / SECTOR_BYTES);
        if (!readRelative(first, count, run_.data())) return read = false;
        for (uint32_t offset = 0; left > 0 && offset < count * SECTOR_BYTES; offset += SECTOR_BYTES) {
            const uint32_t piece = std::min(left, SECTOR_BYTES);
            if (!consume(run_.data() + offset, piece)) return false;
            left -= piece;
        }
        return left > 0;
    });
    return read;
}

bool FatReader::forEachRun(const std::vector<uint32_t>& clusters,
                           const std::function<bool(uint32_t, uint32_t)>& read) const {
    const uint32_t perCluster = boot_.sectorsPerCluster;
    const std::size_t most = std::max<uint32_t>(1, RUN_SECTORS / perCluster);
    for (std::size_t i = 0; i < clusters.size();) {
        std::size_t end = i + 1;
        while (end < clusters.size() && end - i < most && clusters[end] == clusters[end - 1] + 1) ++end;
        const uint32_t first = dataStart_ + (clusters[i] - 2) * perCluster;
        if (!read(first, static_cast<uint32_t>(end - i) * perCluster)) return false;
        i = end;
    }
    return true;
}

bool FatReader::visitSectors(uint32_t first, uint32_t count, EntryDecoder& decoder, bool& ended,
                             FolderTail* tail) {
    for (uint32_t done = 0; done < count && (!ended || tail != nullptr);) {
        const uint32_t sectors = std::min(count - done, RUN_SECTORS);
        if (!readRelative(first + done, sectors, run_.data())) return false;
        done += sectors;
        for (uint32_t offset = 0; offset < sectors * SECTOR_BYTES; offset += DIRECTORY_ENTRY_BYTES) {
            const uint8_t* raw = run_.data() + offset;
            if (ended) {
                if (tail == nullptr) break;
                tail->stray = tail->stray || raw[0] != ENTRY_END;
                continue;
            }
            ended = raw[0] == ENTRY_END || !decoder.take(raw);
        }
    }
    return true;
}

bool FatReader::visitClusters(const std::vector<uint32_t>& clusters, const EntryVisitor& visit,
                              FolderTail* tail) {
    EntryDecoder decoder(boot_.fatType, visit);
    bool ended = false;
    bool read = true;
    forEachRun(clusters, [&](uint32_t first, uint32_t count) {
        read = visitSectors(first, count, decoder, ended, tail);
        return read && (!ended || tail != nullptr);
    });
    if (tail != nullptr) tail->orphanedSlots = decoder.orphanedSlots();
    return read;
}

bool FatReader::visitRootRegion(const EntryVisitor& visit, FolderTail* tail) {
    EntryDecoder decoder(boot_.fatType, visit);
    bool ended = false;
    const bool read = visitSectors(rootStart_, rootSectors_, decoder, ended, tail);
    if (tail != nullptr) tail->orphanedSlots = decoder.orphanedSlots();
    return read;
}

bool FatReader::readFolder(uint32_t cluster, std::vector<FatEntry>& entries, ClusterMarks* seen) {
    if (!problem_.empty()) return false;
    const EntryVisitor collect = [&entries](const FatEntry& entry) {
        if (!entry.label && entry.dots == 0) entries.push_back(entry);
        return true;
    };
    if (cluster == 0 && boot_.fatType == 16) return visitRootRegion(collect);
    std::vector<uint32_t> clusters;
    uint32_t length = 0, where = 0;
    if (seen == nullptr) {
        scratch_.assign(fatEntryCount(), false);
        seen = &scratch_;
    }
    // The entries past FAT's limit are not read, nor the chain that holds them.
    const uint32_t limit = folderClusterLimit();
    const ChainEnd end =
        chain(cluster == 0 ? boot_.rootCluster : cluster, *seen, &clusters, length, where, limit,
              limit);
    if (end != ChainEnd::Complete && end != ChainEnd::Cut) return false;
    return visitClusters(clusters, collect);
}

FatLookup FatReader::find(const std::string& path, FatEntry& found) {
    std::vector<FatEntry> entries;
    if (!readFolder(0, entries)) return FatLookup::Unreadable;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string name = upper(path.substr(start, slash == std::string::npos
                                                              ? std::string::npos
                                                              : slash - start));
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const FatEntry& e) { return upper(e.name) == name; });
        if (entry == entries.end()) return FatLookup::Missing;
        if (slash == std::string::npos) {
            found = *entry;
            return entry->folder ? FatLookup::Folder : FatLookup::File;
        }
        if (!entry->folder) return FatLookup::Missing;
        const uint32_t cluster = entry->cluster;
        entries.clear();
        // A folder entry pointing at cluster 0 would name the root.
        if (cluster == 0 || !readFolder(cluster, entries)) return FatLookup::Unreadable;
        start = slash + 1;
    }
}

bool FatReader::readClusterSector(uint32_t cluster, uint32_t index, uint8_t* buffer) {
    return readRelative(dataStart_ + (cluster - 2) * boot_.sectorsPerCluster + index, buffer);
}

bool FatReader::readRelative(uint32_t sector, uint8_t* buffer) {
    if (budget_ != nullptr && !budget_->take()) return false;
    return readSector(handle_, partitionStart_ + sector, buffer);
}

bool FatReader::readRelative(uint32_t sector, uint32_t count, uint8_t* buffer) {
    if (budget_ != nullptr && !budget_->take(count)) return false;
    return !readSectors(handle_, partitionStart_ + sector, count, buffer);
}
