#include "disk/drive_probe.h"

#include "platform/little_endian.h"
#include "util/text.h"

#include <cstring>

namespace {

constexpr uint32_t REQUIRED_BYTES_PER_SECTOR = 512;
constexpr uint32_t GEOMETRY_EX_BYTES = 40;
constexpr int PATH_CHARS = 256;

bool mediaPresent(platform::Handle handle) {
    uint32_t returned = 0;
    return platform::os().DeviceIoControl(handle, platform::IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0,
                                          nullptr, 0, &returned);
}

// Geometry and device description; false as soon as one rules the drive out.
// The geometry's sector size and disk size go into `state` when given.
bool describeMedia(platform::Handle handle, DriveDescription& description,
                   DriveState* state = nullptr) {
    platform::Platform& os = platform::os();
    uint32_t returned = 0;
    uint8_t geometry[GEOMETRY_EX_BYTES] = {};
    if (!os.DeviceIoControl(handle, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                            geometry, sizeof geometry, &returned))
        return false;
    const uint32_t bytesPerSector = loadLe32(geometry + platform::GEOMETRY_EX_BYTES_PER_SECTOR);
    const int64_t diskSize = static_cast<int64_t>(loadLe64(geometry + platform::GEOMETRY_EX_DISK_SIZE));
    if (state != nullptr) {
        state->bytesPerSector = bytesPerSector;
        state->diskBytes = diskSize;
    }
    if (bytesPerSector != REQUIRED_BYTES_PER_SECTOR) return false;

    // StorageDeviceProperty, PropertyStandardQuery, no additional parameter.
    uint8_t query[platform::PROPERTY_QUERY_SIZE] = {};
    // Zeroed so that every text in it stays terminated whatever the device fills.
    uint8_t descriptor[DEVICE_DESCRIPTOR_BYTES];
    std::memset(descriptor, 0, sizeof descriptor);
    if (!os.DeviceIoControl(handle, platform::IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query,
                            descriptor, sizeof descriptor, &returned))
        return false;

    description.vendor = descriptorText(descriptor, sizeof descriptor,
                                        loadLe32(descriptor + platform::DESCRIPTOR_VENDOR_OFFSET));
    description.product = descriptorText(
        descriptor, sizeof descriptor, loadLe32(descriptor + platform::DESCRIPTOR_PRODUCT_OFFSET));
    description.diskSize = diskSize;
    description.heads = loadLe32(geometry + platform::GEOMETRY_EX_TRACKS_PER_CYLINDER);
    description.sectorsPerTrack = loadLe32(geometry + platform::GEOMETRY_EX_SECTORS_PER_TRACK);
    return true;
}

// The device requests after the hot-plug one; false as soon as one rules it out.
bool describeDrive(platform::Handle handle, DriveDescription& description) {
    return mediaPresent(handle) && describeMedia(handle, description);
}

platform::Handle openForQueries(int number) {
    char path[PATH_CHARS];
    formatNarrow(path, sizeof path, "\\\\.\\PhysicalDrive%d", number);
    return platform::os().CreateFileA(path, platform::GENERIC_READ | platform::GENERIC_WRITE,
                                      platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                      platform::OPEN_EXISTING, 0);
}

}  // namespace

bool mediaRemovable(platform::Handle drive) {
    uint8_t hotplug[platform::HOTPLUG_INFO_SIZE] = {};
    uint32_t returned = 0;
    return platform::os().DeviceIoControl(drive, platform::IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr,
                                          0, hotplug, sizeof hotplug, &returned) &&
           hotplug[platform::HOTPLUG_MEDIA_REMOVABLE] != 0;
}

bool probeDrive(int number, DriveDescription& description) {
    const platform::Handle handle = openForQueries(number);
    if (handle == platform::INVALID_HANDLE_VALUE) return false;
    const bool candidate = mediaRemovable(handle) && describeDrive(handle, description);
    platform::os().CloseHandle(handle);
    return candidate;
}

DriveState examineDrive(int number) {
    platform::Platform& os = platform::os();
    DriveState state;
    const platform::Handle handle = openForQueries(number);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        state.openError = os.GetLastError();
        return state;
    }
    state.opened = true;
    state.removable = mediaRemovable(handle);
    state.media = mediaPresent(handle);
    state.described = state.media && describeMedia(handle, state.description, &state);
    uint32_t returned = 0;
    // Any other answer leaves the writes to tell: only a protected medium is
    // known to refuse them all.
    state.writeProtected =
        !os.DeviceIoControl(handle, platform::IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0,
                            &returned) &&
        os.GetLastError() == platform::ERROR_WRITE_PROTECT;
    os.CloseHandle(handle);
    return state;
}

DriveCapacity driveCapacity(int64_t diskSize) {
    double capacity = static_cast<double>(diskSize) / 1000000.0;
    const char* unit = "MB";
    if (capacity >= 1000.0) {
        capacity /= 1000.0;
        unit = "GB";
    }
    return {static_cast<long long>(capacity), unit};  // truncates toward zero
}

std::string descriptorText(const uint8_t* buffer, std::size_t size, uint32_t offset) {
    if (offset == 0 || offset >= size) return std::string();
    const char* text = reinterpret_cast<const char*>(buffer + offset);
    return std::string(text, strnlen(text, size - offset));
}
