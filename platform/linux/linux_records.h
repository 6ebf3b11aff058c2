#pragma once
// The Windows records that DeviceIoControl returns, laid out byte for byte
// (little-endian, offsets as in platform.h) from facts gathered on Linux.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace linuxos {

struct DriveGeometry {
    uint64_t diskSize = 0;  // bytes
    uint32_t bytesPerSector = 512;
    uint32_t heads = 255;
    uint32_t sectorsPerTrack = 63;
    bool removable = false;
};

// DISK_GEOMETRY_EX with an empty variable tail: 40 bytes (the size of the C record).
std::vector<uint8_t> geometryRecord(const DriveGeometry& geometry);
// STORAGE_HOTPLUG_INFO, 8 bytes.
std::vector<uint8_t> hotplugRecord(bool mediaRemovable);
// STORAGE_DEVICE_DESCRIPTOR followed by its NUL-terminated texts; a text that
// is not there gets offset 0.
std::vector<uint8_t> deviceDescriptor(bool removable, const std::optional<std::string>& vendor,
                                      const std::optional<std::string>& product,
                                      const std::optional<std::string>& revision);
// VOLUME_DISK_EXTENTS holding one extent, 32 bytes.
std::vector<uint8_t> diskExtentsRecord(uint32_t diskNumber, uint64_t startingOffset,
                                       uint64_t length);

}  // namespace linuxos
}  // namespace platform
