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

std::vector<std::u16string> mountedVolumeNames() {
    platform::Platform& os = platform::os();
    std::vector<std::u16string> names;
    char16_t name[platform::VOLUME_NAME_CHARS];
    const platform::Handle search = os.FindFirstVolumeW(name, platform::VOLUME_NAME_CHARS);
    if (search == platform::INVALID_HANDLE_VALUE) return names;
    do {
        std::u16string text(name);
        if (!text.empty() && text.back() == u'\\') text.pop_back();
        names.push_back(text);
    } while (os.FindNextVolumeW(search, name, platform::VOLUME_NAME_CHARS));
    os.FindVolumeClose(search);
    return names;
}
