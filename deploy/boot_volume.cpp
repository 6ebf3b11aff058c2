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
constexpr char16_t DEVICE_PREFIX[] = u"\\\\.\\";

// How the volume opened by `path` is named in debug lines: "E:" for
// "\\.\E:", a volume's name with a colon after it.
std::string shownName(const std::u16string& path) {
    const std::u16string prefix = DEVICE_PREFIX;
    if (path.compare(0, prefix.size(), prefix) == 0) return wideToUtf8(path.substr(prefix.size()));
    return wideToUtf8(path) + ":";
}

// Whether the volume at `path` lies exactly where the boot partition does.
// Asked through a handle without access rights: it neither mounts the volume
// nor wakes a sleeping disk or a network share behind another letter, and
// meets no sharing. The open's failure is left in GetLastError.
bool liesWhereBootIs(const char16_t* path, int driveNumber, const PartitionPlace& boot,
                     bool& opened) {
    platform::Platform& os = platform::os();
    const platform::Handle query =
        os.CreateFileW(path, 0, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    opened = query != platform::INVALID_HANDLE_VALUE;
    if (!opened) return false;
    // The drive alone is not enough: the data partition, or a stale
    // letter of the card's old table, lies on the same drive.
    VolumeExtent extent;
    const bool matches = volumeFirstExtent(query, extent) &&
                         extent.diskNumber == static_cast<uint32_t>(driveNumber) &&
                         extent.startingOffset == uint64_t(boot.firstSector) * SECTOR_BYTES &&
                         extent.length == uint64_t(boot.sectors) * SECTOR_BYTES;
    os.CloseHandle(query);
    return matches;
}

// Opens the matched volume for its dismount.
platform::Handle openForDeployment(const char16_t* path) {
    return platform::os().CreateFileW(
        path, platform::GENERIC_READ | platform::GENERIC_WRITE,
        platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
        platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
}

void printOpenFailure() {
    // Standard output, not the debug channel: this line is meant to
    // stay out of the debug log.
    std::printf("failed %d\n", static_cast<int>(platform::os().GetLastError()));
}

}  // namespace

bool findBootVolume(int driveNumber, const PartitionPlace& boot, BootVolume& found) {
    platform::Platform& os = platform::os();
    const uint32_t mask = os.GetLogicalDrives();
    char16_t path[VOLUME_PATH_CHARS];
    char16_t target[DEVICE_TARGET_CHARS];
    bool opened = false;

    for (int i = 0; i < LETTER_COUNT; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);

        formatWideLetter(path, VOLUME_PATH_CHARS, u"%c:", letter);
        if (os.QueryDosDeviceW(path, target, DEVICE_TARGET_CHARS) == 0) continue;

        formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
        if (!liesWhereBootIs(path, driveNumber, boot, opened)) {
            if (!opened) printOpenFailure();
            continue;
        }
        const platform::Handle volume = openForDeployment(path);
        if (volume == platform::INVALID_HANDLE_VALUE) {
            printOpenFailure();
            continue;
        }
        found.letter = letter;
        found.path = path;
        found.handle = volume;
        return true;
    }
    // A volume the OS mounted without a letter (automount off, the letters
    // used up, a letter the user took away) is reached by its name.
    for (const std::u16string& name : mountedVolumeNames()) {
        if (!liesWhereBootIs(name.c_str(), driveNumber, boot, opened)) continue;
        const platform::Handle volume = openForDeployment(name.c_str());
        if (volume == platform::INVALID_HANDLE_VALUE) continue;
        found.letter = '\0';
        found.path = name;
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

bool bootVolumeRoot(const BootVolume& volume, QString& root) {
    // A mount of the backend's own made after an interrupt gave the volumes
    // back would outlive the process.
    const CardRequest mounting;
    platform::Platform& os = platform::os();
    const std::string native =
        volume.letter != '\0' ? os.volumeRoot(volume.letter) : os.volumeNameRoot(volume.path.c_str());
    if (native.empty()) {
        // Without a root the destinations would be relative paths and the
        // files would land in the working directory.
        debugPrint("No file access to boot volume %s\n", shownName(volume.path).c_str());
        return false;
    }
    root = QString::fromStdString(native);
    return true;
}

bool flushBootVolume(const std::u16string& path) {
    const CardRequest flushing;
    platform::Platform& os = platform::os();
    // The flush needs write access to the volume.
    const platform::Handle volume = os.CreateFileW(
        path.c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE,
        platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
        platform::OPEN_EXISTING, 0);
    if (volume == platform::INVALID_HANDLE_VALUE) {
        debugPrint("Failed to flush boot volume %s %u\n", shownName(path).c_str(), os.GetLastError());
        return false;
    }
    const bool flushed = os.FlushFileBuffers(volume);
    if (!flushed)
        debugPrint("Failed to flush boot volume %s %u\n", shownName(path).c_str(), os.GetLastError());
    os.CloseHandle(volume);
    return flushed;
}

QString bootFolderDestination(const QString& root) {
    return root + QStringLiteral("boot");
}

QString firmwareDestination(const QString& root) {
    return bootFolderDestination(root) + QDir::separator() + QStringLiteral("bzImage");
}
