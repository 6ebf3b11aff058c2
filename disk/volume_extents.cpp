#include "disk/volume_extents.h"

#include "platform/little_endian.h"

bool volumeDiskNumber(platform::Handle volume, uint32_t& diskNumber) {
    uint8_t extents[VOLUME_EXTENTS_BUFFER_BYTES] = {};
    uint32_t returned = 0;
    if (!platform::os().DeviceIoControl(volume, platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
                                        nullptr, 0, extents, sizeof extents, &returned))
        return false;
    diskNumber = loadLe32(extents + platform::DISK_EXTENTS_FIRST_DISK_NUMBER);
    return true;
}
