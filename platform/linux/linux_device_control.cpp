// DeviceIoControl of the Linux backend: each control code answered from the
// block device's ioctls and sysfs, in the Windows record layouts.

#include "platform/control_access.h"
#include "platform/linux/linux_errors.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_records.h"
#include "platform/little_endian.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

using linuxos::BlockName;
using linuxos::windowsError;

constexpr uint32_t kHeads = 255;
constexpr uint32_t kSectorsPerTrack = 63;
constexpr uint32_t kSysfsSectorSize = 512;
constexpr uint32_t kDescriptorMinimum = 8;  // Version and Size: enough to learn the full size
constexpr int kRereadAttempts = 10;
constexpr auto kRereadPause = std::chrono::milliseconds(100);

// StorageDeviceProperty queries.
constexpr uint32_t kStorageDeviceProperty = 0;
constexpr uint32_t kPropertyStandardQuery = 0;
constexpr uint32_t kPropertyExistsQuery = 1;

}  // namespace

bool LinuxPlatform::DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                    void* out, uint32_t outSize, uint32_t* bytesReturned) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    OpenDevice* device = find(handle);
    if (device == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (const uint32_t refusal = controlAccessRefusal(device->access, code); refusal != ERROR_SUCCESS)
        return fail(refusal);

    std::vector<uint8_t> record;
    uint32_t minimum = 0;
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        return lock(*device);
    case FSCTL_UNLOCK_VOLUME:
        return unlock(*device);
    case FSCTL_DISMOUNT_VOLUME:
        return dismount(*device);
    case IOCTL_STORAGE_CHECK_VERIFY:
        return checkVerify(*device);
    case IOCTL_STORAGE_CHECK_VERIFY2:
        return checkVerify2(*device, out, outSize, bytesReturned);
    case IOCTL_DISK_IS_WRITABLE:
        return isWritable(*device);
    case IOCTL_DISK_UPDATE_PROPERTIES:
        return updateProperties(*device);
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
        if (!geometry(*device, &record)) return false;
        minimum = GEOMETRY_EX_MIN_SIZE;
        break;
    case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
        std::optional<bool> mediaRemovable = sysfs_.removable(device->name.disk);
        if (!mediaRemovable) return fail(ERROR_INVALID_FUNCTION);
        record = linuxos::hotplugRecord(*mediaRemovable);
        minimum = HOTPLUG_INFO_SIZE;
        break;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
        if (!queryProperty(*device, in, inSize, &record)) return false;
        if (record.empty()) return true;  // existence query: nothing to return
        minimum = kDescriptorMinimum;
        break;
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        if (!extents(*device, &record)) return false;
        minimum = DISK_EXTENTS_ONE_SIZE;
        break;
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }

    // Only what fits the caller's buffer is written.
    if (out == nullptr || outSize < minimum) return fail(ERROR_INSUFFICIENT_BUFFER);
    uint32_t count = std::min<uint32_t>(outSize, static_cast<uint32_t>(record.size()));
    std::memcpy(out, record.data(), count);
    if (bytesReturned != nullptr) *bytesReturned = count;
    return true;
}

bool LinuxPlatform::removable(const OpenDevice& device) const {
    return sysfs_.removable(device.name.disk).value_or(false);
}

bool LinuxPlatform::lock(OpenDevice& device) {
    if (!device.volume) {
        // The exclusive open already keeps everybody else off the drive.
        if (!device.exclusive) return fail(ERROR_ACCESS_DENIED);
        device.locked = true;
        volumes_.removeStaleFolders(device.name.disk);
        return true;
    }
    if (device.locked) return true;
    if (volumeLockedElsewhere(device.name, &device)) return fail(ERROR_ACCESS_DENIED);
    if (device.taken.empty()) device.changesAtTake = diskChanges_[device.name.disk];
    if (volumes_.unmountAll(device.name, &device.taken) != 0) return fail(ERROR_ACCESS_DENIED);
    device.locked = true;
    // The lock is our own bookkeeping; an open partition node would keep the
    // kernel from re-reading the drive's partition table while the lock-out lasts.
    ::close(device.fd);
    device.fd = -1;
    return true;
}

bool LinuxPlatform::unlock(OpenDevice& device) {
    if (!device.locked) return fail(linuxos::ERROR_NOT_LOCKED);
    device.locked = false;
    giveBackMounts(device);
    return true;
}

void LinuxPlatform::giveBackMounts(OpenDevice& device) {
    std::vector<linuxos::DiskMount> taken;
    taken.swap(device.taken);
    if (diskChanges_[device.name.disk] != device.changesAtTake) return;
    for (const linuxos::DiskMount& mount : taken) {
        if (const int error = volumes_.remount(mount)) {
            const std::string line = "Mount of " + mount.source + " at " + mount.mountPoint +
                                     " again failed: " + std::to_string(error) + "\n";
            OutputDebugStringA(line.c_str());
        }
    }
}

bool LinuxPlatform::dismount(OpenDevice& device) {
    if (!device.volume) return fail(ERROR_INVALID_FUNCTION);
    if (!device.locked && volumeLockedElsewhere(device.name, &device))
        return fail(ERROR_ACCESS_DENIED);
    if (device.taken.empty()) device.changesAtTake = diskChanges_[device.name.disk];
    if (volumes_.unmountAll(device.name, &device.taken) != 0) return fail(ERROR_ACCESS_DENIED);
    return true;
}

bool LinuxPlatform::geometry(OpenDevice& device, std::vector<uint8_t>* record) {
    linuxos::DriveGeometry facts;
    if (!deviceSize(device, &facts.diskSize)) return false;
    if (facts.diskSize == 0) return fail(ERROR_NOT_READY);
    if (!device.regularFile) {
        ScopedFd opened;
        const int fd = nodeFd(device, opened);
        int sectorSize = 0;
        if (fd < 0 || ::ioctl(fd, BLKSSZGET, &sectorSize) != 0) return fail(windowsError(errno));
        facts.bytesPerSector = static_cast<uint32_t>(sectorSize);
    }
    // Always the translation that Windows' disk class driver gives USB and SCSI
    // disks. HDIO_GETGEO is not asked: the kernel derives its answer from the
    // partition table the card holds now (or from the size), so the new layout
    // would depend on the card's old contents and differ from the images'.
    facts.heads = kHeads;
    facts.sectorsPerTrack = kSectorsPerTrack;
    facts.removable = removable(device);
    *record = linuxos::geometryRecord(facts);
    return true;
}

bool LinuxPlatform::checkVerify(OpenDevice& device) {
    // A reader without a card reports a size of 0.
    uint64_t bytes = 0;
    if (std::optional<uint64_t> sectors = sysfs_.sizeSectors(BlockName{device.name.disk, 0})) {
        bytes = *sectors * kSysfsSectorSize;
    } else if (!deviceSize(device, &bytes)) {
        return false;
    }
    if (bytes == 0) return fail(ERROR_NOT_READY);
    return true;
}

bool LinuxPlatform::checkVerify2(OpenDevice& device, void* out, uint32_t outSize,
                                 uint32_t* bytesReturned) {
    if (outSize > 0 && (out == nullptr || outSize < MEDIA_CHANGE_COUNT_SIZE))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    {
        // Opening the node has the kernel ask the reader whether its medium
        // changed, and bring the size below up to date.
        ScopedFd opened;
        opened.fd = ::open(volumes_.devicePath(device.name).c_str(),
                           O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (opened.fd < 0) return fail(windowsError(errno));
    }
    if (!checkVerify(device)) return false;
    if (outSize > 0) {
        const BlockName disk{device.name.disk, 0};
        const uint64_t sequence =
            sysfs_.number(sysfs_.directory(disk) + "/diskseq").value_or(0);
        storeLe32(static_cast<uint8_t*>(out), static_cast<uint32_t>(sequence));
        if (bytesReturned != nullptr) *bytesReturned = MEDIA_CHANGE_COUNT_SIZE;
    }
    return true;
}

bool LinuxPlatform::isWritable(const OpenDevice& device) {
    if (device.writeProtected || sysfs_.readOnly(device.name.disk)) return fail(ERROR_WRITE_PROTECT);
    // The node's own flag (BLKROGET) as well: a disk set read-only by hand.
    int readOnly = 0;
    ScopedFd opened;
    const int fd = device.regularFile ? -1 : nodeFd(device, opened);
    if (fd >= 0 && ::ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0)
        return fail(ERROR_WRITE_PROTECT);
    return true;
}

bool LinuxPlatform::queryProperty(OpenDevice& device, const void* in, uint32_t inSize,
                                  std::vector<uint8_t>* record) {
    if (in == nullptr || inSize < PROPERTY_QUERY_SIZE) return fail(ERROR_INVALID_PARAMETER);
    if (loadLe32(static_cast<const uint8_t*>(in)) != kStorageDeviceProperty) return fail(ERROR_INVALID_FUNCTION);
    uint32_t queryType = loadLe32(static_cast<const uint8_t*>(in) + 4);
    if (queryType == kPropertyExistsQuery) {
        record->clear();
        return true;
    }
    if (queryType != kPropertyStandardQuery) return fail(ERROR_INVALID_PARAMETER);
    const std::string& disk = device.name.disk;
    *record = linuxos::deviceDescriptor(removable(device), sysfs_.deviceText(disk, "vendor"),
                                        sysfs_.deviceText(disk, "model"),
                                        sysfs_.deviceText(disk, "rev"));
    return true;
}

bool LinuxPlatform::extents(OpenDevice& device, std::vector<uint8_t>* record) {
    if (!device.volume) return fail(ERROR_INVALID_FUNCTION);
    std::optional<uint64_t> start = sysfs_.startSector(device.name);
    std::optional<uint64_t> sectors = sysfs_.sizeSectors(device.name);
    uint64_t length = 0;
    if (sectors) {
        length = *sectors * kSysfsSectorSize;
    } else if (!device.name.wholeDisk() || !deviceSize(device, &length)) {
        return fail(ERROR_GEN_FAILURE);
    }
    if (!start) return fail(ERROR_GEN_FAILURE);
    *record = linuxos::diskExtentsRecord(device.name.driveNumber(), *start * kSysfsSectorSize,
                                         length);
    return true;
}

bool LinuxPlatform::updateProperties(OpenDevice& device) {
    if (device.volume) return fail(ERROR_INVALID_FUNCTION);
    if (!device.regularFile) {
        ScopedFd opened;
        const int fd = nodeFd(device, opened);
        if (fd < 0) return fail(windowsError(errno));
        // Partitions still closing from the last writes can keep the table busy a moment.
        int attempt = 0;
        while (::ioctl(fd, BLKRRPART) != 0) {
            if (errno != EBUSY || ++attempt >= kRereadAttempts) return fail(windowsError(errno));
            std::this_thread::sleep_for(kRereadPause);
        }
    }
    ++diskChanges_[device.name.disk];
    volumes_.diskReread(device.name.disk);
    return true;
}

}  // namespace platform
