#include "platform/sim/sim_fat_store.h"

#include "platform/little_endian.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace sim {
namespace {

constexpr uint32_t SECTOR = 512;
constexpr uint32_t ENTRY = 32;
constexpr uint32_t NAME_UNITS_PER_SLOT = 13;
constexpr uint8_t ATTR_LABEL = 0x08, ATTR_FOLDER = 0x10, ATTR_ARCHIVE = 0x20, ATTR_LONG_NAME = 0x0F;
// 2000-01-01, 00:00: files get one fixed time, as the checks never read it.
constexpr uint16_t FIXED_DATE = (20 << 9) | (1 << 5) | 1;

struct Volume {
    bool fat32 = false;
    uint32_t sectorsPerCluster = 0, reserved = 0, fatCount = 0, fatSectors = 0;
    uint32_t rootEntries = 0, rootSectors = 0, rootCluster = 0, fsInfo = 0;
    uint32_t dataStart = 0, clusters = 0;
    uint32_t clusterBytes() const { return sectorsPerCluster * SECTOR; }
};

// The boot sector's fields, when they describe a FAT volume these sectors can hold.
bool readVolume(const uint8_t* boot, uint64_t sectors, Volume& v) {
    if (boot[510] != 0x55 || boot[511] != 0xAA || loadLe16(boot + 11) != SECTOR) return false;
    v.sectorsPerCluster = boot[13];
    v.reserved = loadLe16(boot + 14);
    v.fatCount = boot[16];
    v.rootEntries = loadLe16(boot + 17);
    const uint32_t total = loadLe16(boot + 19) != 0 ? loadLe16(boot + 19) : loadLe32(boot + 32);
    v.fat32 = loadLe16(boot + 22) == 0;
    v.fatSectors = v.fat32 ? loadLe32(boot + 36) : loadLe16(boot + 22);
    v.rootCluster = v.fat32 ? loadLe32(boot + 44) : 0;
    v.fsInfo = v.fat32 ? loadLe16(boot + 48) : 0;
    v.rootSectors = (v.rootEntries * ENTRY + SECTOR - 1) / SECTOR;
    if (v.sectorsPerCluster == 0 || (v.sectorsPerCluster & (v.sectorsPerCluster - 1)) != 0 ||
        v.fatCount == 0 || v.fatSectors == 0 || total > sectors)
        return false;
    v.dataStart = v.reserved + v.fatCount * v.fatSectors + v.rootSectors;
    if (v.dataStart >= total) return false;
    v.clusters = (total - v.dataStart) / v.sectorsPerCluster;
    const uint64_t described = uint64_t(v.fatSectors) * SECTOR / (v.fat32 ? 4 : 2);
    return v.clusters > 0 && described >= uint64_t(v.clusters) + 2 &&
           (!v.fat32 || (v.rootCluster >= 2 && v.rootCluster < v.clusters + 2));
}

struct Node {
    fs::path path;
    std::u16string name;
    uint8_t shortName[11] = {};
    bool folder = false;
    uint64_t size = 0;
    uint32_t cluster = 0, clusterCount = 0;
    std::vector<Node> children;
};

uint32_t slotsFor(const std::u16string& name) {
    return static_cast<uint32_t>((name.size() + NAME_UNITS_PER_SLOT - 1) / NAME_UNITS_PER_SLOT);
}

bool shortNameCharacter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           std::u16string(u"$%'-_@~`!(){}^#&").find(c) != std::u16string::npos;
}

// The name itself where it is a valid 8.3 name in upper case and not taken
// yet; otherwise a numbered one. The long name is always written beside it.
void chooseShortName(Node& node, uint32_t index, std::vector<std::string>& taken) {
    std::u16string upper = node.name;
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    const size_t dot = upper.rfind(u'.');
    const std::u16string stem = dot == std::u16string::npos ? upper : upper.substr(0, dot);
    const std::u16string ext = dot == std::u16string::npos ? std::u16string() : upper.substr(dot + 1);
    bool fits = !stem.empty() && stem.size() <= 8 && ext.size() <= 3 &&
                (dot == std::u16string::npos || !ext.empty());
    for (char16_t c : stem + ext) fits = fits && shortNameCharacter(c);
    std::string chosen(11, ' ');
    if (fits) {
        for (size_t i = 0; i < stem.size(); ++i) chosen[i] = static_cast<char>(stem[i]);
        for (size_t i = 0; i < ext.size(); ++i) chosen[8 + i] = static_cast<char>(ext[i]);
    }
    if (!fits || std::find(taken.begin(), taken.end(), chosen) != taken.end()) {
        const std::string numbered = "SIM~" + std::to_string(index);
        chosen = numbered + std::string(11 - numbered.size(), ' ');
    }
    taken.push_back(chosen);
    std::memcpy(node.shortName, chosen.data(), 11);
}

bool listFolder(const fs::path& folder, std::vector<Node>& children) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; it != end && !error; it.increment(error)) {
        Node node;
        node.path = it->path();
        node.name = it->path().filename().u16string();
        node.folder = it->is_directory(error);
        if (!node.folder) node.size = it->file_size(error);
        if (error) return false;
        children.push_back(std::move(node));
    }
    if (error) return false;
    std::sort(children.begin(), children.end(),
              [](const Node& a, const Node& b) { return a.name < b.name; });
    std::vector<std::string> taken;
    for (uint32_t i = 0; i < children.size(); ++i) {
        chooseShortName(children[i], i + 1, taken);
        if (children[i].folder && !listFolder(children[i].path, children[i].children)) return false;
    }
    return true;
}

uint32_t entriesOf(const Node& folder, bool root, uint32_t labels) {
    uint32_t entries = root ? labels : 2;  // "." and ".."
    for (const Node& child : folder.children) entries += slotsFor(child.name) + 1;
    return entries;
}

class Store {
public:
    Store(const Volume& v, uint64_t start, const SectorAccess& drive)
        : v_(v), start_(start), drive_(drive), fat_(v.clusters + 2, 0) {}

    bool run(Node& root, const std::vector<std::array<uint8_t, ENTRY>>& labels,
             const uint8_t* firstFatSector) {
        fat_[0] = v_.fat32 ? loadLe32(firstFatSector) & 0x0FFFFFFF : loadLe16(firstFatSector);
        fat_[1] = v_.fat32 ? loadLe32(firstFatSector + 4) & 0x0FFFFFFF : loadLe16(firstFatSector + 2);
        next_ = v_.fat32 ? v_.rootCluster : 2;
        const uint32_t rootEntries = entriesOf(root, true, static_cast<uint32_t>(labels.size()));
        if (v_.fat32) {
            if (!allocate(root, uint64_t(rootEntries) * ENTRY)) return false;
        } else if (rootEntries > v_.rootEntries) {
            return false;
        }
        if (!allocateBelow(root)) return false;
        if (!writeBelow(root)) return false;
        std::vector<uint8_t> rootBytes = folderBytes(root, true, 0, labels);
        if (v_.fat32) {
            if (!writeClusters(root.cluster, rootBytes)) return false;
        } else {
            rootBytes.resize(size_t(v_.rootSectors) * SECTOR, 0);
            if (!drive_.write(start_ + v_.reserved + v_.fatCount * v_.fatSectors, v_.rootSectors,
                              rootBytes.data()))
                return false;
        }
        return writeFats() && (!v_.fat32 || updateFsInfo());
    }

private:
    bool allocate(Node& node, uint64_t bytes) {
        const uint32_t count =
            static_cast<uint32_t>(std::max<uint64_t>(node.folder ? 1 : 0,
                                                     (bytes + v_.clusterBytes() - 1) / v_.clusterBytes()));
        if (count == 0) return true;
        if (uint64_t(next_) + count > uint64_t(v_.clusters) + 2) return false;
        node.cluster = next_;
        node.clusterCount = count;
        for (uint32_t i = 0; i < count; ++i)
            fat_[next_ + i] = i + 1 < count ? next_ + i + 1 : (v_.fat32 ? 0x0FFFFFFF : 0xFFFF);
        next_ += count;
        return true;
    }

    bool allocateBelow(Node& folder) {
        for (Node& child : folder.children) {
            const uint64_t bytes = child.folder ? uint64_t(entriesOf(child, false, 0)) * ENTRY : child.size;
            if (!allocate(child, bytes) || (child.folder && !allocateBelow(child))) return false;
        }
        return true;
    }

    bool writeBelow(const Node& folder) {
        for (const Node& child : folder.children) {
            if (child.folder) {
                if (!writeClusters(child.cluster, folderBytes(child, false, folder.cluster, {})) ||
                    !writeBelow(child))
                    return false;
            } else if (!writeFile(child)) {
                return false;
            }
        }
        return true;
    }

    bool writeFile(const Node& file) {
        if (file.clusterCount == 0) return true;
        std::ifstream in(file.path, std::ios::binary);
        if (!in) return false;
        constexpr uint32_t CHUNK_SECTORS = 2048;
        std::vector<uint8_t> chunk(size_t(CHUNK_SECTORS) * SECTOR);
        const uint64_t first = clusterLba(file.cluster);
        const uint64_t sectors = uint64_t(file.clusterCount) * v_.sectorsPerCluster;
        for (uint64_t done = 0; done < sectors;) {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(CHUNK_SECTORS, sectors - done));
            std::fill(chunk.begin(), chunk.end(), 0);
            in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(count) * SECTOR);
            if (in.bad() || !drive_.write(first + done, count, chunk.data())) return false;
            done += count;
        }
        return true;
    }

    bool writeClusters(uint32_t cluster, std::vector<uint8_t> bytes) {
        const uint32_t sectors = static_cast<uint32_t>(
            (bytes.size() + v_.clusterBytes() - 1) / v_.clusterBytes() * v_.sectorsPerCluster);
        bytes.resize(size_t(sectors) * SECTOR, 0);
        return drive_.write(clusterLba(cluster), sectors, bytes.data());
    }

    uint64_t clusterLba(uint32_t cluster) const {
        return start_ + v_.dataStart + uint64_t(cluster - 2) * v_.sectorsPerCluster;
    }

    static void shortEntry(uint8_t* e, const uint8_t* name, uint8_t attributes, uint32_t cluster,
                           uint32_t size) {
        std::memcpy(e, name, 11);
        e[11] = attributes;
        storeLe16(e + 16, FIXED_DATE);
        storeLe16(e + 18, FIXED_DATE);
        storeLe16(e + 20, static_cast<uint16_t>(cluster >> 16));
        storeLe16(e + 24, FIXED_DATE);
        storeLe16(e + 26, static_cast<uint16_t>(cluster));
        storeLe32(e + 28, size);
    }

    // The long-name slots, last part first, each carrying the short name's checksum.
    static void longNameSlots(uint8_t* e, const Node& node) {
        uint8_t sum = 0;
        for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + node.shortName[i]);
        static const int OFFSETS[NAME_UNITS_PER_SLOT] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        const uint32_t slots = slotsFor(node.name);
        for (uint32_t s = 0; s < slots; ++s) {
            uint8_t* slot = e + (slots - 1 - s) * ENTRY;
            slot[0] = static_cast<uint8_t>((s + 1) | (s + 1 == slots ? 0x40 : 0));
            slot[11] = ATTR_LONG_NAME;
            slot[13] = sum;
            for (uint32_t k = 0; k < NAME_UNITS_PER_SLOT; ++k) {
                const size_t at = size_t(s) * NAME_UNITS_PER_SLOT + k;
                const uint16_t unit = at < node.name.size() ? node.name[at] : at == node.name.size() ? 0 : 0xFFFF;
                storeLe16(slot + OFFSETS[k], unit);
            }
        }
    }

    std::vector<uint8_t> folderBytes(const Node& folder, bool root, uint32_t parent,
                                     const std::vector<std::array<uint8_t, ENTRY>>& labels) {
        std::vector<uint8_t> bytes(size_t(entriesOf(folder, root, static_cast<uint32_t>(labels.size()))) * ENTRY, 0);
        uint8_t* e = bytes.data();
        if (root) {
            for (const auto& label : labels) {
                std::memcpy(e, label.data(), ENTRY);
                e += ENTRY;
            }
        } else {
            shortEntry(e, reinterpret_cast<const uint8_t*>(".          "), ATTR_FOLDER, folder.cluster, 0);
            shortEntry(e + ENTRY, reinterpret_cast<const uint8_t*>("..         "), ATTR_FOLDER,
                       parent == v_.rootCluster ? 0 : parent, 0);
            e += 2 * ENTRY;
        }
        for (const Node& child : folder.children) {
            longNameSlots(e, child);
            e += slotsFor(child.name) * ENTRY;
            shortEntry(e, child.shortName, child.folder ? ATTR_FOLDER : ATTR_ARCHIVE, child.cluster,
                       child.folder ? 0 : static_cast<uint32_t>(child.size));
            e += ENTRY;
        }
        return bytes;
    }

    bool writeFats() {
        std::vector<uint8_t> table(size_t(v_.fatSectors) * SECTOR, 0);
        for (size_t i = 0; i < fat_.size(); ++i) {
            if (v_.fat32)
                storeLe32(table.data() + i * 4, fat_[i]);
            else
                storeLe16(table.data() + i * 2, static_cast<uint16_t>(fat_[i]));
        }
        for (uint32_t copy = 0; copy < v_.fatCount; ++copy)
            if (!drive_.write(start_ + v_.reserved + uint64_t(copy) * v_.fatSectors, v_.fatSectors,
                              table.data()))
                return false;
        return true;
    }

    bool updateFsInfo() {
        if (v_.fsInfo == 0 || v_.fsInfo >= v_.reserved) return true;
        uint8_t info[SECTOR];
        if (!drive_.read(start_ + v_.fsInfo, 1, info)) return false;
        storeLe32(info + 488, v_.clusters + 2 - next_);
        storeLe32(info + 492, next_);
        return drive_.write(start_ + v_.fsInfo, 1, info);
    }

    const Volume& v_;
    uint64_t start_;
    const SectorAccess& drive_;
    std::vector<uint32_t> fat_;
    uint32_t next_ = 2;
};

// The volume label entries of the root folder as the formatter left them.
bool readLabels(const Volume& v, uint64_t start, const SectorAccess& drive,
                std::vector<std::array<uint8_t, ENTRY>>& labels) {
    const uint64_t lba = v.fat32 ? start + v.dataStart + uint64_t(v.rootCluster - 2) * v.sectorsPerCluster
                                 : start + v.reserved + uint64_t(v.fatCount) * v.fatSectors;
    uint8_t sector[SECTOR];
    if (!drive.read(lba, 1, sector)) return false;
    for (uint32_t i = 0; i < SECTOR / ENTRY && sector[i * ENTRY] != 0; ++i) {
        const uint8_t* e = sector + i * ENTRY;
        if (e[0] != 0xE5 && e[11] != ATTR_LONG_NAME && (e[11] & ATTR_LABEL) != 0) {
            std::array<uint8_t, ENTRY> label;
            std::memcpy(label.data(), e, ENTRY);
            labels.push_back(label);
        }
    }
    return true;
}

}  // namespace

bool storeFolderInFat(const std::string& folder, uint64_t start, uint64_t sectors,
                      const SectorAccess& drive) {
    uint8_t boot[SECTOR];
    Volume volume;
    if (sectors == 0 || !drive.read(start, 1, boot)) return true;
    if (!readVolume(boot, sectors, volume)) return true;
    std::vector<std::array<uint8_t, ENTRY>> labels;
    uint8_t firstFat[SECTOR];
    if (!readLabels(volume, start, drive, labels) ||
        !drive.read(start + volume.reserved, 1, firstFat))
        return false;
    Node root;
    root.folder = true;
    if (!listFolder(fs::path(folder), root.children)) return false;
    return Store(volume, start, drive).run(root, labels, firstFat);
}

}  // namespace sim
}  // namespace platform
