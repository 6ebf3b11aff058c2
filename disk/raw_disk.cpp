#include "disk/raw_disk.h"

#include "disk/drive_fault.h"
#include "disk/card_requests.h"
#include "disk/sector_io.h"
#include "util/debug.h"
#include "platform/little_endian.h"

#include <cstring>

using platform::Handle;

namespace {

// The geometry record up to and including the first byte of its variable tail.
constexpr uint32_t GEOMETRY_BUFFER_BYTES = 33;

}  // namespace

bool openPhysicalDrive(const char* path, Handle& handle, uint32_t& diskSectors, uint32_t& heads,
                       uint32_t& sectorsPerTrack, DriveOpenFailure* failure) {
    platform::Platform& os = platform::os();
    const auto stopAt = [failure](DriveOpenFailure::Step step, uint32_t error) {
        if (failure != nullptr) *failure = DriveOpenFailure{step, error};
        return false;
    };
    handle = os.CreateFileA(path, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                            platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        const uint32_t error = os.GetLastError();
        noteDriveFault({DriveFault::OPEN, error, 0});
        debugPrint("Create file %s failed: %i\n", path, static_cast<int>(error));
        return stopAt(DriveOpenFailure::Open, error);
    }

    uint32_t returned = 0;
    if (!os.DeviceIoControl(handle, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned))
        return stopAt(DriveOpenFailure::Lock, os.GetLastError());

    uint8_t geometry[GEOMETRY_BUFFER_BYTES] = {};
    if (!os.DeviceIoControl(handle, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                            sizeof geometry, &returned))
        return stopAt(DriveOpenFailure::Geometry, os.GetLastError());
    if (loadLe32(geometry + platform::GEOMETRY_EX_BYTES_PER_SECTOR) != SECTOR_BYTES)
        return stopAt(DriveOpenFailure::Geometry, platform::ERROR_SUCCESS);

    const int64_t sectors = static_cast<int64_t>(loadLe64(geometry + platform::GEOMETRY_EX_DISK_SIZE)) / SECTOR_BYTES;
    // Sector numbers are 32 bits everywhere after this: a larger drive would be
    // laid out on a wrapped size, so it is refused here.
    if (sectors < 0 || sectors > int64_t(UINT32_MAX)) {
        debugPrint("Drive %s has %lld sectors, more than this program can address\n", path,
                   static_cast<long long>(sectors));
        return stopAt(DriveOpenFailure::Geometry, platform::ERROR_SUCCESS);
    }
    diskSectors = static_cast<uint32_t>(sectors);
    heads = loadLe32(geometry + platform::GEOMETRY_EX_TRACKS_PER_CYLINDER);
    sectorsPerTrack = loadLe32(geometry + platform::GEOMETRY_EX_SECTORS_PER_TRACK);
    return true;
}

bool readSector(Handle handle, uint32_t lba, void* buffer) {
    return !readSectors(handle, lba, 1, buffer);
}

bool writeSector(Handle handle, uint32_t lba, const void* buffer) {
    return !writeSectors(handle, lba, 1, buffer);
}

bool flushDisk(Handle handle) {
    platform::Platform& os = platform::os();
    const CardRequest underWay;
    if (os.FlushFileBuffers(handle)) return true;
    const uint32_t error = os.GetLastError();
    noteDriveFault({DriveFault::FLUSH, error, 0});
    debugPrint("Failed to flush disk: %u\n", error);
    return false;
}

bool releaseDisk(Handle handle) {
    platform::Platform& os = platform::os();
    uint32_t returned = 0;
    os.DeviceIoControl(handle, platform::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned);
    os.DeviceIoControl(handle, platform::IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                       &returned);
    // Bytes a backend still held (an image file's stream) are lost when the
    // close fails, so that is the one failure reported here.
    if (!os.CloseHandle(handle)) {
        debugPrint("Failed to close disk: %d\n", static_cast<int>(os.GetLastError()));
        return false;
    }
    return true;
}
