#include "deploy/volume_extents.h"

bool volumeDiskNumber(platform::Handle volume, uint32_t& diskNumber) {
    unsigned char extents[VOLUME_EXTENTS_BUFFER_BYTES] = {};
    uint32_t returned = 0;
    if (!platform::os().DeviceIoControl(volume, platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS,
                                        nullptr, 0, extents, sizeof extents, &returned))
        return false;
    const unsigned char* field = extents + platform::DISK_EXTENTS_FIRST_DISK_NUMBER;
    diskNumber = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
                 static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
    return true;
}
