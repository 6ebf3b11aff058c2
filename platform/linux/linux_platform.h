#pragma once
// The Linux backend: the Windows calls of platform.h carried out with Linux
// block devices, sysfs and the mount table.
//
// Names:
//   "\\.\PhysicalDriveN"  -> <dev>/sd followed by the letter 'a' + N (N = 0..25)
//   "\\.\X:"              -> the partition that drive letter X stands for
//   "\\?\Volume{...}"     -> a partition with a letter, by a name made from
//                          its device name (platform/volume_names.h)
//   CreateMutexW "Global\ZelRecoveryDriveN" -> an flock on
//                          /run/lock/zel-recovery-<device of drive N>.lock
// Drive letters: see linux_volumes.h. In short, mounted partitions of sdX disks
// get letters from 'D' on in mount order; after IOCTL_DISK_UPDATE_PROPERTIES
// the drive's first partition gets one too; letters stay with their partition.
//
// Geometry: 255 heads and 63 sectors per track for every drive, as Windows
// reports USB and SCSI disks, whatever the kernel's HDIO_GETGEO would say.
//
// Write protection: as Windows does, a write-protected card (sysfs "ro" 1, or
// the kernel refusing a writing open with EROFS) opens all the same, read
// only; its writes fail with ERROR_WRITE_PROTECT and IOCTL_DISK_IS_WRITABLE
// says so.
//
// Handles without access rights (access 0) only ask questions, as on Windows:
// they hold no descriptor of the node, take no flock and meet nobody's share
// mode, so that a drive watched by another process stays free for a run's
// exclusive open. A question that needs the node opens it for that moment,
// read only and O_NONBLOCK (which a reader without a card allows too).
// IOCTL_STORAGE_CHECK_VERIFY2 opens it on every call: the kernel asks the
// reader at each open whether its medium changed, and brings sysfs up to
// date; the answer is sysfs "size" (0: no medium), the count sysfs
// "diskseq", which the kernel advances on each media change (0 where the
// kernel has none).
//
// Locks: share mode 0 opens the device with O_EXCL (the kernel refuses it while
// a partition is mounted or another exclusive opener holds it), plus an flock
// so that our own handles exclude each other as Windows share modes do; that
// exclusive open is the drive lock. A volume lock takes the file system away
// (umount2 without force): Linux has no lock that refuses while files are open,
// but an unmount does, so a busy volume refuses the lock and stays mounted.
// The dismount that follows finds nothing left to do. A run that gives its
// locks back without having written the drive gets the user's mounts back:
// each is mounted again where it was, as Windows mounts an untouched volume
// again on its next access. A locked volume handle
// closes its partition node (transfers through it are refused), so that the
// kernel can re-read the drive's partition table while the lock-out lasts.

#include "platform/linux/linux_errors.h"
#include "platform/linux/linux_sysfs.h"
#include "platform/linux/linux_volumes.h"
#include "platform/platform.h"
#include "platform/volume_names.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {

// Where the backend looks; tests point these into a fake tree.
struct LinuxRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string mountinfo = "/proc/self/mountinfo";
    std::string runLock = "/run/lock";  // the files of named guards
};

class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(LinuxRoots roots = LinuxRoots());
    ~LinuxPlatform() override;
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                       uint32_t flags) override;
    Handle CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                       uint32_t disposition, uint32_t flags) override;
    bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) override;
    uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                            uint32_t moveMethod) override;
    bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) override;
    bool WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                   uint32_t* transferred) override;
    bool FlushFileBuffers(Handle handle) override;
    bool CloseHandle(Handle handle) override;
    uint32_t GetLastError() override;
    Handle CreateMutexW(const char16_t* name) override;
    uint32_t GetLogicalDrives() override;
    uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                             uint32_t maxChars) override;
    Handle FindFirstVolumeW(char16_t* name, uint32_t maxChars) override;
    bool FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) override;
    bool FindVolumeClose(Handle find) override;
    std::string volumeRoot(char letter) override;
    // The mount point of the partition the made-up name stands for.
    std::string volumeNameRoot(const char16_t* name) override;
    DeviceNode deviceNode(const std::string& path) override;
    // "/dev/sdc (BOOT, DATA)": the labels udev keeps under <dev>/disk/by-label;
    // a partition without one by its own name (linux_identity.cpp).
    std::string driveIdentity(int number) override;
    // "/dev/sdc".
    std::string devicePath(int number) override;
    void releaseVolumeRoots() override;
    void OutputDebugStringA(const char* text) override;
    uint64_t GetTickCount64() override;
    void Sleep(uint32_t milliseconds) override;

private:
    struct OpenDevice {
        int fd = -1;
        linuxos::BlockName name;
        bool volume = false;     // opened through a drive letter
        bool exclusive = false;  // share mode 0
        bool regularFile = false;
        bool locked = false;
        bool writeProtected = false;  // opened for writing, served read-only
        uint32_t access = 0;          // GENERIC_READ / GENERIC_WRITE asked for
        uint64_t position = 0;
        // A volume's mounts its lock or dismount took, and the drive's change
        // count then: given back when it is unlocked with nothing written.
        std::vector<linuxos::DiskMount> taken;
        uint64_t changesAtTake = 0;
    };

    // A descriptor that is closed with its scope.
    struct ScopedFd {
        int fd = -1;
        ScopedFd() = default;
        ScopedFd(const ScopedFd&) = delete;
        ScopedFd& operator=(const ScopedFd&) = delete;
        ~ScopedFd() {
            if (fd >= 0) ::close(fd);
        }
    };
    // The device's node for one question: the handle's own descriptor, or the
    // node opened into `opened` for the moment (-1 with errno set when it
    // cannot be).
    int nodeFd(const OpenDevice& device, ScopedFd& opened) const;

    Handle open(const std::string& path, uint32_t access, uint32_t shareMode,
                uint32_t disposition, uint32_t flags);
    OpenDevice* find(Handle handle);
    bool volumeLockedElsewhere(const linuxos::BlockName& name, const OpenDevice* except) const;
    // The files of the partition (volumeRoot); empty with the error set when none.
    std::string rootOf(const std::optional<linuxos::BlockName>& name);
    bool deviceSize(const OpenDevice& device, uint64_t* bytes) const;
    bool removable(const OpenDevice& device) const;

    // DeviceIoControl, one function per control code (linux_device_control.cpp).
    bool lock(OpenDevice& device);
    bool unlock(OpenDevice& device);
    bool dismount(OpenDevice& device);
    // Mounts the volume's taken mounts again where the drive has not been
    // written since they were taken.
    void giveBackMounts(OpenDevice& device);
    bool geometry(OpenDevice& device, std::vector<uint8_t>* record);
    bool checkVerify(OpenDevice& device);
    bool checkVerify2(OpenDevice& device, void* out, uint32_t outSize, uint32_t* bytesReturned);
    bool isWritable(const OpenDevice& device);
    bool queryProperty(OpenDevice& device, const void* in, uint32_t inSize,
                       std::vector<uint8_t>* record);
    bool extents(OpenDevice& device, std::vector<uint8_t>* record);
    bool updateProperties(OpenDevice& device);

    static bool fail(uint32_t error);
    // One positioned read or write through the aligned bounce buffer.
    bool transfer(Handle handle, linuxos::Transfer direction, void* readInto, const void* writeFrom,
                  uint32_t bytes, uint32_t* transferred);

    // O_DIRECT transfers need aligned memory; callers' buffers are not. Grows
    // to the largest piece asked for (at most 1 MiB) and is kept.
    uint8_t* bounceFor(uint32_t bytes);
    struct FreeBounce {
        void operator()(uint8_t* data) const { std::free(data); }
    };
    std::unique_ptr<uint8_t, FreeBounce> bounce_;
    uint32_t bounceBytes_ = 0;

    LinuxRoots roots_;
    linuxos::Sysfs sysfs_;
    linuxos::VolumeTable volumes_;
    std::mutex mutex_;
    std::map<Handle, OpenDevice> devices_;
    // Writes and partition table re-reads per disk ("sdb"), counted.
    std::map<std::string, uint64_t> diskChanges_;
    std::map<Handle, int> guards_;  // named guards: the descriptor holding the flock
    VolumeSearches searches_;
    Handle nextHandle_ = 4;
};

}  // namespace platform
