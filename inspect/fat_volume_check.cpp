#include "inspect/fat_volume_check.h"

#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "fat/fat_geometry.h"
#include "fat/fat_layout.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t CARD_FAT_COPIES = 2;
// What the boot sector of a volume without a label says.
constexpr char NO_LABEL[] = "NO NAME";
// More folders than any card holds; past it the check gives up with a finding
// rather than grow without bound.
constexpr std::size_t MAX_FOLDERS = 65536;

std::string hex(uint8_t value) {
    static const char DIGITS[] = "0123456789ABCDEF";
    return {DIGITS[value >> 4], DIGITS[value & 0xF]};
}

class VolumeWalk {
public:
    VolumeWalk(FatReader& reader, uint32_t index, std::vector<std::string>& findings)
        : reader_(reader), findings_(findings),
          prefix_("Volume " + std::to_string(index) + ": "),
          marks_(reader.fatEntryCount(), false) {}

    void run() {
        checkGeometry();
        walkFolders();
        checkFat();
    }

private:
    struct Folder {
        std::string path;
        std::vector<uint32_t> clusters;  // empty: the FAT16 root region
        uint32_t parent = 0;             // first cluster of the parent; 0 for the root
        bool root = false;
    };

    void finding(const std::string& text) { findings_.push_back(prefix_ + text); }

    void checkGeometry() {
        const FatBootSector& boot = reader_.boot();
        if (boot.media != 0xF0 && boot.media < 0xF8)
            finding("its media byte 0x" + hex(boot.media) + " is not a valid one.");
        uint32_t fat0 = 0;
        if (reader_.fatEntry(0, 0, fat0) && fat0 != fatMediaEntry(boot.fatType, boot.media))
            finding("its first FAT entry does not repeat the media byte.");
        checkFat32Copies();
        if (boot.dirty) finding("it is marked as not cleanly unmounted.");
        if (boot.fatCount != CARD_FAT_COPIES)
            finding("it has " + std::to_string(boot.fatCount) + " FAT copies, not 2.");
        if (boot.fatType == 16 && boot.rootEntries * DIRECTORY_ENTRY_BYTES % SECTOR_BYTES != 0)
            finding("its root folder of " + std::to_string(boot.rootEntries) +
                    " entries does not fill whole sectors.");
        const uint32_t clusters = reader_.clusterCount();
        if (boot.fatType == 16 && clusters < FAT16_MIN_CLUSTERS)
            finding("its " + std::to_string(clusters) +
                    " clusters are too few for FAT16; readers take it for FAT12.");
        if (boot.fatType == 32 && clusters < FAT32_MIN_CLUSTERS)
            finding("its " + std::to_string(clusters) +
                    " clusters are too few for FAT32; readers that count take it for FAT16.");
    }

    // FAT32 keeps a copy of its boot sector; readers fall back on it.
    void checkFat32Copies() {
        const FatBootSector& boot = reader_.boot();
        if (boot.fatType != 32) return;
        if (boot.backupSector == 0) {
            finding("it keeps no copy of its boot sector.");
            return;
        }
        uint8_t first[SECTOR_BYTES], copy[SECTOR_BYTES];
        if (boot.backupSector >= boot.reservedSectors || !reader_.readRelative(0, first) ||
            !reader_.readRelative(boot.backupSector, copy) ||
            std::memcmp(first, copy, SECTOR_BYTES) != 0)
            finding("its boot sector differs from its copy.");
    }

    // The free-cluster count FAT32 keeps, when it keeps one, against the FAT.
    void checkFreeCount(uint64_t free) {
        const FatBootSector& boot = reader_.boot();
        if (boot.fatType != 32 || boot.fsInfoSector == 0 || boot.fsInfoSector >= boot.reservedSectors)
            return;
        uint8_t info[SECTOR_BYTES];
        if (!reader_.readRelative(boot.fsInfoSector, info)) {
            finding("its free-cluster summary cannot be read.");
            return;
        }
        if (loadLe32(info + FSINFO_LEAD) != FSINFO_LEAD_SIGNATURE ||
            loadLe32(info + FSINFO_STRUCTURE) != FSINFO_STRUCTURE_SIGNATURE ||
            loadLe32(info + FSINFO_TRAIL) != FSINFO_TRAIL_SIGNATURE) {
            finding("its free-cluster summary does not carry its signatures.");
            return;
        }
        const uint32_t count = loadLe32(info + FSINFO_FREE_COUNT);
        if (count != FSINFO_UNKNOWN && count != free)
            finding("its free-cluster summary says " + std::to_string(count) + " free clusters; the "
                    "FAT has " + std::to_string(free) + ".");
    }

    // Follows and claims a chain; false (with a finding) unless it ends well.
    // A folder's clusters past FAT's entry limit are claimed but not collected.
    bool claim(const std::string& path, uint32_t first, std::vector<uint32_t>* clusters,
               uint32_t& length) {
        uint32_t where = 0;
        const uint32_t collect = clusters != nullptr ? reader_.folderClusterLimit() : 0;
        switch (reader_.chain(first, marks_, clusters, length, where, collect)) {
        case ChainEnd::Complete:
        case ChainEnd::Cut:
            if (length > collect && clusters != nullptr)
                finding(path + " is longer than the " + std::to_string(MAX_FOLDER_ENTRIES) +
                        " entries FAT allows; the rest of it is not read.");
            return true;
        case ChainEnd::Loop:
            finding("the cluster chain of " + path + " loops back to cluster " +
                    std::to_string(where) + ".");
            break;
        case ChainEnd::CrossLink:
            finding(path + " shares cluster " + std::to_string(where) + " with another file.");
            break;
        case ChainEnd::OutOfRange:
            finding("the cluster chain of " + path + " points to cluster " + std::to_string(where) +
                    ", which the volume does not have.");
            break;
        case ChainEnd::Free:
            finding("the cluster chain of " + path + " runs into a free cluster.");
            break;
        case ChainEnd::Bad:
            finding("the cluster chain of " + path + " runs into a cluster marked bad.");
            break;
        case ChainEnd::Unreadable:
            finding("the FAT entries of " + path + " cannot be read.");
            break;
        }
        return false;
    }

    void walkFolders() {
        std::vector<Folder> pending;
        Folder root{"the root folder", {}, 0, true};
        uint32_t length = 0;
        if (reader_.boot().fatType == 32 &&
            !claim(root.path, reader_.boot().rootCluster, &root.clusters, length))
            return;
        pending.push_back(std::move(root));
        std::size_t folders = 1;
        while (!pending.empty()) {
            Folder folder = std::move(pending.back());
            pending.pop_back();
            const std::string parent = folder.root ? "" : folder.path + "/";
            const uint32_t self = folder.root ? 0 : folder.clusters.front();
            uint32_t slot = 0;
            const FatReader::EntryVisitor visit = [&](const FatEntry& entry) {
                const std::string path = parent + entry.name;
                if (entry.badLongName)
                    finding("the long name before " + path + " is damaged.");
                if (entry.badShortName)
                    finding(path + " has a short name with characters FAT does not allow.");
                // A folder begins with "." (itself) and ".." (its parent, 0 for the root).
                ++slot;
                const bool dotsWanted = !folder.root && slot <= 2;
                if (dotsWanted && (entry.dots != static_cast<int>(slot) || !entry.folder ||
                                   entry.cluster != (slot == 1 ? self : folder.parent)))
                    finding(folder.path + " does not begin with valid \".\" and \"..\" entries.");
                if (entry.dots != 0) {
                    if (!dotsWanted) finding(folder.path + " holds a stray \"" + entry.name + "\" entry.");
                    return true;
                }
                if (entry.label) {
                    checkLabel(folder.root, path, entry);
                    return true;
                }
                if (entry.folder) {
                    Folder child{path, {}, self, false};
                    if (entry.size != 0) finding("the folder " + path + " has a size.");
                    if (entry.cluster == 0) {
                        finding("the folder " + path + " has no cluster.");
                    } else if (++folders > MAX_FOLDERS) {
                        finding("it has more than " + std::to_string(MAX_FOLDERS) +
                                " folders; the rest is not checked.");
                        return false;
                    } else if (claim(path, entry.cluster, &child.clusters, length)) {
                        pending.push_back(std::move(child));
                    }
                    return true;
                }
                checkFile(path, entry);
                return true;
            };
            FolderTail tail;
            const bool read = folder.clusters.empty()
                                  ? reader_.visitRootRegion(visit, &tail)
                                  : reader_.visitClusters(folder.clusters, visit, &tail);
            if (!read) finding(folder.path + " cannot be read.");
            if (read && folder.root) checkLabelAgainstBootSector();
            if (tail.orphanedSlots)
                finding(folder.path + " holds long-name slots that belong to no entry.");
            if (tail.stray) finding(folder.path + " holds entries behind its end marker.");
            if (folders > MAX_FOLDERS) return;
        }
    }

    // The label lives twice: in the boot sector and as an entry of the root
    // folder; readers show the entry. Anywhere else the label bit hides what
    // carries it.
    void checkLabel(bool root, const std::string& path, const FatEntry& entry) {
        if (!root) {
            finding(path + " is marked as a volume label; readers do not see it as a " +
                    (entry.folder ? "folder." : "file."));
            return;
        }
        if (++rootLabels_ > 1) finding("its root folder holds more than one label entry.");
        rootLabel_ = entry.labelText;
        if (entry.folder) finding("its label entry " + rootLabel_ + " is also marked a folder.");
        if (entry.size != 0 || entry.cluster != 0)
            finding("its label entry " + rootLabel_ + " holds a size or clusters.");
    }

    void checkLabelAgainstBootSector() {
        const std::string& label = reader_.boot().label;
        if (label.empty() || label == NO_LABEL) return;
        if (rootLabels_ == 0)
            finding("its root folder holds no label entry; its boot sector names it \"" + label +
                    "\".");
        else if (rootLabel_ != label)
            finding("its label entry says \"" + rootLabel_ + "\", its boot sector \"" + label + "\".");
    }

    void checkFile(const std::string& path, const FatEntry& entry) {
        if (entry.size == 0) {
            if (entry.cluster != 0) finding(path + " is empty but has clusters.");
            return;
        }
        if (entry.cluster == 0) {
            finding(path + " is " + std::to_string(entry.size) + " bytes but has no clusters.");
            return;
        }
        uint32_t length = 0;
        if (!claim(path, entry.cluster, nullptr, length)) return;
        const uint64_t needed =
            (uint64_t(entry.size) + reader_.clusterBytes() - 1) / reader_.clusterBytes();
        if (length != needed)
            finding(path + " is " + std::to_string(entry.size) + " bytes but its chain holds " +
                    std::to_string(length) + " clusters of " +
                    std::to_string(reader_.clusterBytes()) + " bytes.");
    }

    // The copies sector by sector against the first, and in the first every
    // cluster in use that no chain claimed.
    void checkFat() {
        const FatBootSector& boot = reader_.boot();
        const uint32_t entriesPerSector = SECTOR_BYTES / fatEntryBytes(boot.fatType);
        const uint32_t lastEntry = reader_.fatEntryCount();
        // A count other than the card's is a finding of its own; comparing every
        // copy a damaged count byte claims would multiply the work by up to 255.
        const uint32_t copies = std::min(boot.fatCount, CARD_FAT_COPIES);
        std::vector<uint32_t> differing(copies, 0);
        uint64_t lost = 0, free = 0;
        // Read in runs: a FAT32 FAT of a large card has millions of sectors.
        std::vector<uint8_t> first(size_t(RUN_SECTORS) * SECTOR_BYTES), other(first.size());
        for (uint32_t start = 0; start < boot.fatSectors; start += RUN_SECTORS) {
            const uint32_t count = std::min(RUN_SECTORS, boot.fatSectors - start);
            if (!reader_.readRelative(reader_.fatStart() + start, count, first.data())) {
                // The sector that failed, one by one.
                uint32_t s = start;
                while (s + 1 < start + count &&
                       reader_.readRelative(reader_.fatStart() + s, first.data()))
                    ++s;
                finding("sector " + std::to_string(s) + " of its FAT cannot be read.");
                return;
            }
            for (uint32_t copy = 1; copy < copies; ++copy) {
                const bool read = reader_.readRelative(
                    reader_.fatStart() + copy * boot.fatSectors + start, count, other.data());
                for (uint32_t s = 0; s < count; ++s)
                    if (!read || std::memcmp(first.data() + s * SECTOR_BYTES,
                                             other.data() + s * SECTOR_BYTES, SECTOR_BYTES) != 0)
                        ++differing[copy];
            }
            for (uint32_t s = 0; s < count; ++s) {
                const uint8_t* sector = first.data() + s * SECTOR_BYTES;
                for (uint32_t i = 0; i < entriesPerSector; ++i) {
                    const uint64_t cluster = uint64_t(start + s) * entriesPerSector + i;
                    if (cluster < 2 || cluster >= lastEntry) continue;
                    const uint32_t value = loadFatEntry(boot.fatType, sector, i);
                    if (value == 0) ++free;
                    if (value != 0 && !reader_.isBadCluster(value) && !marks_[cluster]) ++lost;
                }
            }
        }
        for (uint32_t copy = 1; copy < copies; ++copy)
            if (differing[copy] != 0)
                finding("FAT copy " + std::to_string(copy) + " differs from the first in " +
                        std::to_string(differing[copy]) + " sectors.");
        if (lost != 0)
            finding(std::to_string(lost) + " clusters are marked in use but belong to no file.");
        checkFreeCount(free);
    }

    FatReader& reader_;
    std::vector<std::string>& findings_;
    std::string prefix_;
    ClusterMarks marks_;
    uint32_t rootLabels_ = 0;
    std::string rootLabel_;
};

}  // namespace

void checkFatVolume(FatReader& reader, uint32_t index, std::vector<std::string>& findings) {
    if (!reader.geometryProblem().empty()) {
        findings.push_back("Volume " + std::to_string(index) + ": " + reader.geometryProblem() + ".");
        return;
    }
    VolumeWalk(reader, index, findings).run();
}
