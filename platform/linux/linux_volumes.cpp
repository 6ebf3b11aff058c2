#include "platform/linux/linux_volumes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace linuxos {
namespace {

constexpr char kFirstLetter = 'D';
// Long names in UTF-8, whatever the kernel's default character set (often
// ascii, which refuses every other name): any name a FAT volume can hold
// (UTF-16 long names) can be copied. Short names keep the default code page.
constexpr char kPrivateMountOptions[] = "utf8";
// Private folders are named after the partition they mount, so that the next
// run on the drive knows a killed run's leftovers for its own.
constexpr char kPrivatePrefix[] = "zel-volume-";

std::vector<std::string> splitOptions(const std::string& list) {
    std::vector<std::string> options;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) options.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return options;
}

// The mount flags of a mount's own options; the file system's options (all
// but "ro" and "rw", which are flags) go to the file system as its data.
unsigned long mountFlags(const std::string& options, const std::string& superOptions,
                         std::string* data) {
    static const std::pair<const char*, unsigned long> kFlags[] = {
        {"ro", MS_RDONLY},       {"nosuid", MS_NOSUID},         {"nodev", MS_NODEV},
        {"noexec", MS_NOEXEC},   {"sync", MS_SYNCHRONOUS},      {"dirsync", MS_DIRSYNC},
        {"noatime", MS_NOATIME}, {"nodiratime", MS_NODIRATIME}, {"relatime", MS_RELATIME},
        {"strictatime", MS_STRICTATIME}, {"lazytime", MS_LAZYTIME},
    };
    unsigned long flags = 0;
    for (const std::string& option : splitOptions(options))
        for (const auto& known : kFlags)
            if (option == known.first) flags |= known.second;
    data->clear();
    for (const std::string& option : splitOptions(superOptions)) {
        if (option == "ro") flags |= MS_RDONLY;
        if (option == "ro" || option == "rw") continue;
        if (!data->empty()) *data += ',';
        *data += option;
    }
    return flags;
}

}  // namespace

VolumeTable::VolumeTable(const Sysfs& sysfs, std::string devRoot, std::string mountinfoPath)
    : sysfs_(sysfs), devRoot_(std::move(devRoot)), mountinfoPath_(std::move(mountinfoPath)) {}

VolumeTable::~VolumeTable() { releaseOwnMounts(); }

void VolumeTable::refresh() {
    mounts_ = readDiskMounts(mountinfoPath_, devRoot_);
    // First partitions of re-read disks before any mount, so that each gets
    // the lowest letter of its drive even when the desktop mounts its siblings.
    for (const std::string& disk : rereadDisks_) {
        BlockName first{disk, 1};
        if (sysfs_.exists(first)) assignLetter(first);
    }
    for (const DiskMount& mount : mounts_) assignLetter(mount.device);
}

void VolumeTable::assignLetter(const BlockName& name) {
    for (const auto& entry : letters_)
        if (entry.second == name) return;
    for (char letter = kFirstLetter; letter <= 'Z'; ++letter) {
        if (letters_.count(letter) == 0) {
            letters_[letter] = name;
            return;
        }
    }
}

bool VolumeTable::present(const BlockName& name) const {
    // A file system over the whole disk is gone once the disk has a partition
    // table and nothing has it mounted, as Windows drops such a volume when the
    // disk is partitioned; the disk itself stays in sysfs.
    if (name.wholeDisk() && sysfs_.hasPartitions(name.disk) && mountPointsOf(name).empty())
        return false;
    return sysfs_.exists(name);
}

uint32_t VolumeTable::mask() const {
    uint32_t bits = 0;
    for (const auto& entry : letters_)
        if (present(entry.second)) bits |= 1u << (entry.first - 'A');
    return bits;
}

std::optional<BlockName> VolumeTable::volumeOf(char letter) const {
    auto found = letters_.find(letter);
    if (found == letters_.end() || !present(found->second)) return std::nullopt;
    return found->second;
}

std::vector<BlockName> VolumeTable::volumes() const {
    std::vector<BlockName> names;
    for (const auto& entry : letters_)
        if (present(entry.second)) names.push_back(entry.second);
    return names;
}

bool VolumeTable::known(const BlockName& name) const {
    for (const BlockName& volume : volumes())
        if (volume == name) return true;
    return false;
}

void VolumeTable::diskReread(const std::string& disk) {
    // The old table's letters would name the new table's partitions: a letter
    // that stood for the old second partition would come first and be taken
    // for the boot partition. The disk's volumes get letters afresh.
    for (auto entry = letters_.begin(); entry != letters_.end();) {
        if (entry->second.disk == disk)
            entry = letters_.erase(entry);
        else
            ++entry;
    }
    rereadDisks_.insert(disk);
}

std::vector<std::string> VolumeTable::mountPointsOf(const BlockName& name) const {
    std::vector<std::string> points;
    for (const DiskMount& mount : mounts_)
        if (mount.device == name) points.push_back(mount.mountPoint);
    return points;
}

int VolumeTable::syncMounts(const BlockName& name) {
    refresh();
    for (const std::string& point : mountPointsOf(name)) {
        const int fd = ::open(point.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return errno;
        const int result = ::syncfs(fd);
        const int error = errno;
        ::close(fd);
        if (result != 0) return error;
    }
    return 0;
}

int VolumeTable::unmountAll(const BlockName& name, std::vector<DiskMount>* taken) {
    refresh();
    std::vector<DiskMount> mounts;
    for (const DiskMount& mount : mounts_)
        if (mount.device == name) mounts.push_back(mount);
    // Mounts stacked on the same point come off top first.
    for (auto mount = mounts.rbegin(); mount != mounts.rend(); ++mount) {
        const std::string& point = mount->mountPoint;
        if (::umount2(point.c_str(), 0) != 0) {
            // EINVAL: no longer a mount point; ENOENT: the folder went with it.
            if (errno != EINVAL && errno != ENOENT) return errno;
        }
        const bool own = ownMounts_.count(name.text()) != 0 && ownMounts_[name.text()] == point;
        const std::string folder = point.substr(point.rfind('/') + 1);
        if (own) {
            forgetOwnMount(point);
        } else if (point.compare(0, privateRoot_.size() + 1, privateRoot_ + "/") == 0 &&
                   folder.compare(0, std::strlen(kPrivatePrefix), kPrivatePrefix) == 0) {
            // A killed run's private mount: nobody's volume, gone with its folder.
            ::rmdir(point.c_str());
        } else if (taken != nullptr) {
            taken->insert(taken->begin(), *mount);
        }
    }
    return 0;
}

int VolumeTable::remount(const DiskMount& mount) {
    // A desktop may have removed its folder once the volume went away.
    ::mkdir(mount.mountPoint.c_str(), 0700);
    std::string data;
    const unsigned long flags = mountFlags(mount.options, mount.superOptions, &data);
    if (::mount(mount.source.c_str(), mount.mountPoint.c_str(), mount.type.c_str(), flags,
                data.c_str()) != 0)
        return errno;
    refresh();
    return 0;
}

void VolumeTable::removeStaleFolders(const std::string& disk) {
    DIR* folder = ::opendir(privateRoot_.c_str());
    if (folder == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        const size_t prefix = std::strlen(kPrivatePrefix);
        const size_t dash = name.rfind('-');
        if (name.compare(0, prefix, kPrivatePrefix) != 0 || dash < prefix) continue;
        const std::string partition = name.substr(prefix, dash - prefix);
        const std::optional<BlockName> of = BlockName::parse(partition);
        if (of && of->disk == disk) stale.push_back(privateRoot_ + "/" + name);
    }
    ::closedir(folder);
    for (const std::string& path : stale) {
        bool own = false;
        for (const auto& entry : ownMounts_) own = own || entry.second == path;
        // rmdir takes only an empty folder that nothing is mounted on.
        if (!own) ::rmdir(path.c_str());
    }
}

std::string VolumeTable::root(const BlockName& name, int* error) {
    *error = 0;
    refresh();
    std::vector<std::string> points = mountPointsOf(name);
    if (!points.empty()) {
        const std::string& point = points.front();
        return point.back() == '/' ? point : point + "/";
    }

    std::string pattern = privateRoot_ + "/" + kPrivatePrefix + name.text() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        *error = errno;
        return std::string();
    }
    if (::mount(devicePath(name).c_str(), pattern.c_str(), "vfat", 0, kPrivateMountOptions) != 0) {
        *error = errno;
        ::rmdir(pattern.c_str());
        return std::string();
    }
    ownMounts_[name.text()] = pattern;
    return pattern + "/";
}

void VolumeTable::forgetOwnMount(const std::string& mountPoint) {
    for (auto own = ownMounts_.begin(); own != ownMounts_.end(); ++own) {
        if (own->second == mountPoint) {
            ::rmdir(own->second.c_str());
            ownMounts_.erase(own);
            return;
        }
    }
}

void VolumeTable::releaseOwnMounts() {
    if (ownMounts_.empty()) return;
    ::sync();
    for (const auto& own : ownMounts_) {
        // A folder still in use is detached so that it goes once the last file closes.
        if (::umount2(own.second.c_str(), 0) != 0 && errno == EBUSY)
            ::umount2(own.second.c_str(), MNT_DETACH);
        ::rmdir(own.second.c_str());
    }
    ownMounts_.clear();
}

}  // namespace linuxos
}  // namespace platform
