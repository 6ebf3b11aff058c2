#include "platform/drive_identity.h"

#include "platform/little_endian.h"
#include "platform/platform.h"

namespace platform {
namespace {

constexpr int LETTER_COUNT = 26;
// The extents record's header and its first extent: a volume of more extents
// (spanned) does not fit, and is no card's.
constexpr uint32_t ONE_EXTENT_BYTES = 32;

}  // namespace

std::string identityText(const std::string& drive, const std::vector<std::string>& volumes) {
    std::string text = drive + " (";
    if (volumes.empty()) text += "no volumes";
    for (std::size_t i = 0; i < volumes.size(); ++i) text += (i == 0 ? "" : ", ") + volumes[i];
    return text + ")";
}

namespace {

// Each letter's volume asked where it lies, through a handle without access
// rights, which neither mounts the volume nor meets its sharing.
std::vector<std::string> lettersOn(Platform& os, int number) {
    std::vector<std::string> letters;
    const uint32_t mask = os.GetLogicalDrives();
    for (int i = 0; i < LETTER_COUNT; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);
        const char16_t path[] = {u'\\', u'\\', u'.', u'\\', static_cast<char16_t>(letter), u':', 0};
        const Handle volume =
            os.CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
        if (volume == INVALID_HANDLE_VALUE) continue;
        uint8_t extents[ONE_EXTENT_BYTES] = {};
        uint32_t returned = 0;
        if (os.DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                               sizeof extents, &returned) &&
            loadLe32(extents + DISK_EXTENTS_FIRST_DISK_NUMBER) == static_cast<uint32_t>(number))
            letters.push_back(std::string(1, letter) + ":");
        os.CloseHandle(volume);
    }
    return letters;
}

}  // namespace

std::string Platform::driveIdentity(int number) {
    return identityText("disk " + std::to_string(number), lettersOn(*this, number));
}

std::string Platform::devicePath(int number) {
    std::string path = "\\\\.\\PhysicalDrive" + std::to_string(number);
    for (const std::string& letter : lettersOn(*this, number)) path += " " + letter;
    return path;
}

}  // namespace platform
