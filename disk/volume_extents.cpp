#include "disk/volume_extents.h"

#include "platform/little_endian.h"

bool volumeFirstExtent(platform::Handle volume, VolumeExtent& extent) {
    uint8_t extents[VOLUME_EXTENTS_BUFFER_BYTES] = {};
    uint32_t returned = 0;
    if (!platform::os().DeviceIoControl(volume, platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
                                        nullptr, 0, extents, sizeof extents, &returned))
        return false;
    extent.diskNumber = loadLe32(extents + platform::DISK_EXTENTS_FIRST_DISK_NUMBER);
    extent.startingOffset = loadLe64(extents + platform::DISK_EXTENTS_FIRST_STARTING_OFFSET);
    extent.length = loadLe64(extents + platform::DISK_EXTENTS_FIRST_LENGTH);
    return true;
}

bool volumeDiskNumber(platform::Handle volume, uint32_t& diskNumber) {
    VolumeExtent extent;
    if (!volumeFirstExtent(volume, extent)) return false;
    diskNumber = extent.diskNumber;
    return true;
}
