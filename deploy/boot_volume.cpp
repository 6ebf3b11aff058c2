#include "deploy/boot_volume.h"

#include "disk/card_requests.h"
#include "disk/raw_disk.h"
#include "disk/volume_extents.h"
#include "util/debug.h"
#include "util/text.h"

#include <QDir>

#include <cstdio>
#include <string>

namespace {

constexpr int LETTER_COUNT = 26;
// Only whether the letter names a device matters; the name itself is unused.
constexpr uint32_t DEVICE_TARGET_CHARS = 1024;

}  // namespace

bool findBootVolume(int driveNumber, const PartitionPlace& boot, BootVolume& found) {
    platform::Platform& os = platform::os();
    const uint32_t mask = os.GetLogicalDrives();
    char16_t path[VOLUME_PATH_CHARS];
    char16_t target[DEVICE_TARGET_CHARS];

    for (int i = 0; i < LETTER_COUNT; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);

        formatWideLetter(path, VOLUME_PATH_CHARS, u"%c:", letter);
        if (os.QueryDosDeviceW(path, target, DEVICE_TARGET_CHARS) == 0) continue;

        formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
        platform::Handle volume = os.CreateFileW(
            path, platform::GENERIC_READ | platform::GENERIC_WRITE,
            platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
            platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
        if (volume == platform::INVALID_HANDLE_VALUE) {
            // Standard output, not the debug channel: this line is meant to
            // stay out of the debug log.
            std::printf("failed %d\n", static_cast<int>(os.GetLastError()));
            continue;
        }

        // The drive alone is not enough: the data partition, or a stale
        // letter of the card's old table, lies on the same drive.
        VolumeExtent extent;
        if (!volumeFirstExtent(volume, extent) ||
            extent.diskNumber != static_cast<uint32_t>(driveNumber) ||
            extent.startingOffset != uint64_t(boot.firstSector) * SECTOR_BYTES ||
            extent.length != uint64_t(boot.sectors) * SECTOR_BYTES) {
            os.CloseHandle(volume);
            continue;
        }
        found.letter = letter;
        found.handle = volume;
        return true;
    }
    return false;
}

void dismountBootVolume(BootVolume& volume) {
    platform::Platform& os = platform::os();
    uint32_t returned = 0;
    os.DeviceIoControl(volume.handle, platform::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                       &returned);
    os.CloseHandle(volume.handle);
    volume.handle = platform::INVALID_HANDLE_VALUE;
}

bool bootVolumeRoot(char letter, QString& root) {
    // A mount of the backend's own made after an interrupt gave the volumes
    // back would outlive the process.
    const CardRequest mounting;
    const std::string native = platform::os().volumeRoot(letter);
    if (native.empty()) {
        // Without a root the destinations would be relative paths and the
        // files would land in the working directory.
        debugPrint("No file access to boot volume %c:\n", letter);
        return false;
    }
    root = QString::fromStdString(native);
    return true;
}

bool flushBootVolume(char letter) {
    const CardRequest flushing;
    platform::Platform& os = platform::os();
    char16_t path[VOLUME_PATH_CHARS];
    formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
    const platform::Handle volume = os.CreateFileW(
        path, platform::GENERIC_READ | platform::GENERIC_WRITE,
        platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
        platform::OPEN_EXISTING, 0);
    if (volume == platform::INVALID_HANDLE_VALUE) {
        debugPrint("Failed to flush boot volume %c: %u\n", letter, os.GetLastError());
        return false;
    }
    const bool flushed = os.FlushFileBuffers(volume);
    if (!flushed) debugPrint("Failed to flush boot volume %c: %u\n", letter, os.GetLastError());
    os.CloseHandle(volume);
    return flushed;
}

QString bootFolderDestination(const QString& root) {
    return root + QStringLiteral("boot");
}

QString firmwareDestination(const QString& root) {
    return bootFolderDestination(root) + QDir::separator() + QStringLiteral("bzImage");
}
