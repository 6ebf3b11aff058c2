#include "platform/linux/linux_records.h"

#include "platform/little_endian.h"
#include "platform/platform.h"

namespace platform {
namespace linuxos {
namespace {

constexpr uint32_t kGeometryExRecordSize = 40;
constexpr uint32_t kDeviceDescriptorSize = 40;  // with RawDeviceProperties[1] and padding
constexpr uint32_t kDescriptorRemovable = 10;
constexpr uint32_t kDescriptorRevisionOffset = 20;

}  // namespace

std::vector<uint8_t> geometryRecord(const DriveGeometry& geometry) {
    std::vector<uint8_t> record(kGeometryExRecordSize, 0);
    uint64_t cylinderBytes =
        uint64_t{geometry.heads} * geometry.sectorsPerTrack * geometry.bytesPerSector;
    uint64_t cylinders = cylinderBytes == 0 ? 0 : geometry.diskSize / cylinderBytes;
    storeLe64(record.data() + GEOMETRY_EX_CYLINDERS, cylinders);
    storeLe32(record.data() + GEOMETRY_EX_MEDIA_TYPE,
            geometry.removable ? MEDIA_TYPE_REMOVABLE : MEDIA_TYPE_FIXED);
    storeLe32(record.data() + GEOMETRY_EX_TRACKS_PER_CYLINDER, geometry.heads);
    storeLe32(record.data() + GEOMETRY_EX_SECTORS_PER_TRACK, geometry.sectorsPerTrack);
    storeLe32(record.data() + GEOMETRY_EX_BYTES_PER_SECTOR, geometry.bytesPerSector);
    storeLe64(record.data() + GEOMETRY_EX_DISK_SIZE, geometry.diskSize);
    return record;
}

std::vector<uint8_t> hotplugRecord(bool mediaRemovable) {
    std::vector<uint8_t> record(HOTPLUG_INFO_SIZE, 0);
    storeLe32(record.data(), HOTPLUG_INFO_SIZE);
    record[HOTPLUG_MEDIA_REMOVABLE] = mediaRemovable ? 1 : 0;
    return record;
}

std::vector<uint8_t> deviceDescriptor(bool removable, const std::optional<std::string>& vendor,
                                      const std::optional<std::string>& product,
                                      const std::optional<std::string>& revision) {
    std::vector<uint8_t> record(kDeviceDescriptorSize, 0);
    storeLe32(record.data(), kDeviceDescriptorSize);  // Version: the size of the fixed part
    record[kDescriptorRemovable] = removable ? 1 : 0;
    auto append = [&record](uint32_t fieldOffset, const std::optional<std::string>& text) {
        if (!text) return;
        storeLe32(record.data() + fieldOffset, static_cast<uint32_t>(record.size()));
        record.insert(record.end(), text->begin(), text->end());
        record.push_back(0);
    };
    append(DESCRIPTOR_VENDOR_OFFSET, vendor);
    append(DESCRIPTOR_PRODUCT_OFFSET, product);
    append(kDescriptorRevisionOffset, revision);
    storeLe32(record.data() + 4, static_cast<uint32_t>(record.size()));  // Size: everything returned
    return record;
}

std::vector<uint8_t> diskExtentsRecord(uint32_t diskNumber, uint64_t startingOffset,
                                       uint64_t length) {
    std::vector<uint8_t> record(DISK_EXTENTS_ONE_SIZE, 0);
    storeLe32(record.data() + DISK_EXTENTS_COUNT, 1);
    storeLe32(record.data() + DISK_EXTENTS_FIRST_DISK_NUMBER, diskNumber);
    storeLe64(record.data() + DISK_EXTENTS_FIRST_STARTING_OFFSET, startingOffset);
    storeLe64(record.data() + DISK_EXTENTS_FIRST_LENGTH, length);
    return record;
}

}  // namespace linuxos
}  // namespace platform
