#include "platform/linux/linux_volumes.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace platform {
namespace linuxos {
namespace {

constexpr char kFirstLetter = 'D';

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

int VolumeTable::unmountAll(const BlockName& name) {
    refresh();
    std::vector<std::string> points = mountPointsOf(name);
    // Mounts stacked on the same point come off top first.
    for (auto point = points.rbegin(); point != points.rend(); ++point) {
        if (::umount2(point->c_str(), 0) != 0) {
            // EINVAL: no longer a mount point; ENOENT: the folder went with it.
            if (errno != EINVAL && errno != ENOENT) return errno;
        }
        forgetOwnMount(*point);
    }
    return 0;
}

std::string VolumeTable::root(const BlockName& name, int* error) {
    *error = 0;
    refresh();
    std::vector<std::string> points = mountPointsOf(name);
    if (!points.empty()) {
        const std::string& point = points.front();
        return point.back() == '/' ? point : point + "/";
    }

    std::string pattern = "/tmp/zel-volume-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        *error = errno;
        return std::string();
    }
    if (::mount(devicePath(name).c_str(), pattern.c_str(), "vfat", 0, nullptr) != 0) {
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
