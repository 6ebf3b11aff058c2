#include "disk/reader_media.h"

#include "disk/drive_probe.h"
#include "platform/little_endian.h"
#include "platform/platform.h"

#include <string>

ReaderMedia readerMedia(int driveNumber) {
    platform::Platform& os = platform::os();
    ReaderMedia state;
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(driveNumber);
    // Access 0: the device's attributes only, never its sectors.
    const platform::Handle handle =
        os.CreateFileA(path.c_str(), 0, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    if (handle == platform::INVALID_HANDLE_VALUE) return state;
    state.reader = true;
    state.removable = mediaRemovable(handle);
    uint8_t count[platform::MEDIA_CHANGE_COUNT_SIZE] = {};
    uint32_t returned = 0;
    state.media = os.DeviceIoControl(handle, platform::IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0,
                                     count, sizeof count, &returned);
    if (state.media && returned >= sizeof count) state.changeCount = loadLe32(count);
    os.CloseHandle(handle);
    return state;
}
