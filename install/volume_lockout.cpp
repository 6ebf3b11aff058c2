#include "install/volume_lockout.h"

#include "disk/volume_extents.h"
#include "util/debug.h"
#include "util/text.h"

namespace {

constexpr int LETTER_COUNT = 26;

bool control(platform::Handle handle, uint32_t code) {
    uint32_t returned = 0;
    return platform::os().DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned);
}

int lastError() {
    return static_cast<int>(platform::os().GetLastError());
}

// Opens the volume under `letter` when it lies on the drive; otherwise
// INVALID_HANDLE_VALUE, with the extents failure logged.
platform::Handle openOnDrive(const char16_t* path, int driveNumber) {
    platform::Platform& os = platform::os();
    platform::Handle volume =
        os.CreateFileW(path, platform::GENERIC_READ | platform::GENERIC_WRITE,
                       platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
    if (volume == platform::INVALID_HANDLE_VALUE) return platform::INVALID_HANDLE_VALUE;

    uint32_t diskNumber = 0;
    if (!volumeDiskNumber(volume, diskNumber)) {
        const int error = lastError();
        debugPrint("GET_VOLUME_DISK_EXTENTS for %s failed: %d\n", wideToUtf8(path).c_str(), error);
        os.CloseHandle(volume);
        return platform::INVALID_HANDLE_VALUE;
    }
    if (diskNumber != static_cast<uint32_t>(driveNumber)) {
        os.CloseHandle(volume);
        return platform::INVALID_HANDLE_VALUE;
    }
    return volume;
}

enum class Lock { NotOnDrive, Locked, Refused };

// Opens, checks, locks and dismounts one volume; `volume` holds the handle
// when it is locked.
Lock lockVolume(char letter, int driveNumber, platform::Handle& volume) {
    char16_t path[VOLUME_PATH_CHARS];
    formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
    volume = openOnDrive(path, driveNumber);
    if (volume == platform::INVALID_HANDLE_VALUE) return Lock::NotOnDrive;
    if (!control(volume, platform::FSCTL_LOCK_VOLUME)) {
        const int error = lastError();
        debugPrint("LOCK_VOLUME for %s failed: %d\n", wideToUtf8(path).c_str(), error);
        platform::os().CloseHandle(volume);
        volume = platform::INVALID_HANDLE_VALUE;
        return Lock::Refused;
    }
    if (!control(volume, platform::FSCTL_DISMOUNT_VOLUME)) {
        // Still ours: the lock keeps others off the volume.
        const int error = lastError();
        debugPrint("DISMOUNT_VOLUME for %s failed: %d\n", wideToUtf8(path).c_str(), error);
    }
    return Lock::Locked;
}

// True when the volume under `letter` lies on the drive; it is left alone.
bool liesOnDrive(char letter, int driveNumber) {
    char16_t path[VOLUME_PATH_CHARS];
    formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
    const platform::Handle volume = openOnDrive(path, driveNumber);
    if (volume == platform::INVALID_HANDLE_VALUE) return false;
    platform::os().CloseHandle(volume);
    return true;
}

// Unlocks and closes one kept handle; an empty slot is left alone.
bool unlockVolume(platform::Handle& volume, bool firstSlot) {
    if (volume == platform::INVALID_HANDLE_VALUE) return true;
    const bool unlocked = control(volume, platform::FSCTL_UNLOCK_VOLUME);
    if (!unlocked) {
        const int error = lastError();
        if (firstSlot)
            debugPrint("UNLOCK_VOLUME 1 failed: %d\n", error);
        else
            debugPrint("UNLOCK_VOLUME 2 failed: %d\n", error);
    }
    platform::os().CloseHandle(volume);
    volume = platform::INVALID_HANDLE_VALUE;
    return unlocked;
}

}  // namespace

KeptVolumes lockDriveVolumes(int driveNumber) {
    KeptVolumes kept;
    const uint32_t mask = platform::os().GetLogicalDrives();
    for (int i = 0; i < LETTER_COUNT; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);
        // Past the two slots a volume of the drive can only be found, not
        // held; one is enough to know the card cannot be taken whole.
        if (kept.second != platform::INVALID_HANDLE_VALUE) {
            if (!liesOnDrive(letter, driveNumber)) continue;
            kept.third = letter;
            break;
        }
        platform::Handle volume = platform::INVALID_HANDLE_VALUE;
        const Lock lock = lockVolume(letter, driveNumber, volume);
        if (lock == Lock::Refused && kept.refused == '\0') kept.refused = letter;
        if (lock != Lock::Locked) continue;
        if (kept.first == platform::INVALID_HANDLE_VALUE)
            kept.first = volume;
        else
            kept.second = volume;
    }
    return kept;
}

bool unlockDriveVolumes(KeptVolumes& kept) {
    // Both are given back even when the first refuses.
    const bool firstUnlocked = unlockVolume(kept.first, true);
    const bool secondUnlocked = unlockVolume(kept.second, false);
    return firstUnlocked && secondUnlocked;
}
