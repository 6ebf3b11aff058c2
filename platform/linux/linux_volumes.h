#pragma once
// Drive letters for the partitions of SCSI disks, and the mounts behind them.
//
// Letter mapping: every sdXN partition (or whole sdX disk holding a file
// system) that appears as a mount source in the mountinfo file gets the next
// free letter, starting at 'D', in the order the mounts are listed (mount
// order). After a drive's partition table has been re-read, its partitions
// lose their letters and its first partition gets the lowest free one, mounted
// or not, so that the new file system is the drive's first volume. A letter, once given, stays with its partition name for the
// life of the backend and is in use (GetLogicalDrives) for as long as sysfs
// lists the partition, mounted or not: as on Windows, a dismounted volume keeps
// its letter and comes back when its files are used (volumeRoot). A whole-disk
// file system loses its letter once the disk shows partitions.

#include "platform/linux/linux_mounts.h"
#include "platform/linux/linux_sysfs.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {
namespace linuxos {

class VolumeTable {
public:
    VolumeTable(const Sysfs& sysfs, std::string devRoot, std::string mountinfoPath);
    ~VolumeTable();
    VolumeTable(const VolumeTable&) = delete;
    VolumeTable& operator=(const VolumeTable&) = delete;

    // Reads the mount list again and hands out letters to new partitions.
    void refresh();
    // Bit i set: letter 'A' + i names a partition that exists.
    uint32_t mask() const;
    std::optional<BlockName> volumeOf(char letter) const;
    // The partitions that have a letter and exist, in letter order: the
    // volumes this backend knows (FindFirstVolumeW lists them).
    std::vector<BlockName> volumes() const;
    bool known(const BlockName& name) const;
    std::string devicePath(const BlockName& name) const { return devRoot_ + "/" + name.text(); }

    // The partition table of `disk` was read again: its first partition must be
    // reachable, as the drive's first letter.
    void diskReread(const std::string& disk);

    // Takes every mount of the partition away (umount2 without force). Returns
    // 0, or the errno of the mount that refused (EBUSY while files are open).
    // The user's mounts taken go into `taken` (when given), in mount order; a
    // private mount another run left behind is taken away with its folder.
    int unmountAll(const BlockName& name, std::vector<DiskMount>* taken = nullptr);
    // Mounts `mount` again where it was, with its source, type and options.
    // Returns 0 or the errno of the mount.
    int remount(const DiskMount& mount);
    // Removes the empty private folders that runs killed before they could
    // remove them left for the partitions of `disk`.
    void removeStaleFolders(const std::string& disk);
    // The partition's files with a trailing '/': its first mount point, or a
    // private mount (vfat, in /tmp/zel-volume-<partition>-XXXXXX) made now
    // when nothing has it mounted. Empty with
    // `error` set when it cannot be mounted.
    std::string root(const BlockName& name, int* error);
    // Writes out the file systems mounted from the partition (syncfs on each
    // mount). Returns 0, or the errno of the first that failed.
    int syncMounts(const BlockName& name);
    // Syncs, unmounts the private mounts and removes their folders.
    void releaseOwnMounts();

private:
    bool present(const BlockName& name) const;
    void assignLetter(const BlockName& name);
    std::vector<std::string> mountPointsOf(const BlockName& name) const;
    void forgetOwnMount(const std::string& mountPoint);

    const Sysfs& sysfs_;
    std::string devRoot_;
    std::string mountinfoPath_;
    std::string privateRoot_ = "/tmp";
    std::vector<DiskMount> mounts_;
    std::map<char, BlockName> letters_;
    std::set<std::string> rereadDisks_;
    std::map<std::string, std::string> ownMounts_;  // partition name -> private folder
};

}  // namespace linuxos
}  // namespace platform
