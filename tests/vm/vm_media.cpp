// Asks a drive of the guest whether it holds a medium, as a station that
// watches readers asks: a handle without access rights and
// IOCTL_STORAGE_CHECK_VERIFY2 with its media change count (native backend).
//
// Usage: vm_media DRIVE_NUMBER
// Prints "medium count=N" (exit 0), "no medium error=E" (exit 1) or
// "no drive error=E" (exit 3).
#include "guest_only.h"
#include "platform/little_endian.h"
#include "platform/platform.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vm_media DRIVE_NUMBER\n");
        return 2;
    }
    if (!inTestGuest()) return 2;
    platform::Platform& os = platform::os();
    const std::string path = std::string("\\\\.\\PhysicalDrive") + argv[1];
    const platform::Handle drive =
        os.CreateFileA(path.c_str(), 0, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    if (drive == platform::INVALID_HANDLE_VALUE) {
        std::printf("no drive error=%u\n", static_cast<unsigned>(os.GetLastError()));
        return 3;
    }
    uint8_t count[platform::MEDIA_CHANGE_COUNT_SIZE] = {};
    uint32_t returned = 0;
    const bool medium = os.DeviceIoControl(drive, platform::IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0,
                                           count, sizeof count, &returned);
    const uint32_t error = os.GetLastError();
    os.CloseHandle(drive);
    if (!medium) {
        std::printf("no medium error=%u\n", static_cast<unsigned>(error));
        return 1;
    }
    std::printf("medium count=%u returned=%u\n", static_cast<unsigned>(loadLe32(count)),
                static_cast<unsigned>(returned));
    return 0;
}
