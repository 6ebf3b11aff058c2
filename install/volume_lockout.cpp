#include "install/volume_lockout.h"

#include "disk/volume_extents.h"
#include "util/debug.h"
#include "util/text.h"

#include <string>
#include <vector>

namespace {

constexpr int LETTER_COUNT = 26;

bool control(platform::Handle handle, uint32_t code) {
    uint32_t returned = 0;
    return platform::os().DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned);
}

int lastError() {
    return static_cast<int>(platform::os().GetLastError());
}

// Where the volume lies, asked through a handle without access rights, which
// neither mounts the volume nor meets its sharing. A failure is logged when
// `logFailure` says so, except where the letter is no disk's at all: it
// cannot be opened, or has no disk behind it (a network mapping, a RAM disk),
// so it cannot be the card's and its line would only mislead the log's reader.
bool locate(const char16_t* path, VolumeExtent& extent, bool logFailure) {
    platform::Platform& os = platform::os();
    const platform::Handle query =
        os.CreateFileW(path, 0, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    if (query == platform::INVALID_HANDLE_VALUE) return false;
    const bool located = volumeFirstExtent(query, extent);
    if (!located && logFailure && lastError() != int(platform::ERROR_INVALID_FUNCTION))
        debugPrint("GET_VOLUME_DISK_EXTENTS for %s failed: %d\n", wideToUtf8(path).c_str(), lastError());
    os.CloseHandle(query);
    return located;
}

// Locks the volume, trying again while another program holds it; then takes
// it with a dismount, which ends the other programs' handles, and locks it on
// the same handle. Until it is locked any program may mount it again, so a
// lock refused after the dismount is tried again with another dismount.
bool lockHeld(platform::Handle volume, const std::string& name, RetryWait& wait) {
    if (control(volume, platform::FSCTL_LOCK_VOLUME)) return true;
    debugPrint("LOCK_VOLUME for %s failed: %d\n", name.c_str(), lastError());
    const uint64_t deadline = wait.now() + VOLUME_LOCK_RETRY_MS;
    while (wait.now() < deadline) {
        wait.pause(VOLUME_LOCK_RETRY_INTERVAL_MS);
        if (control(volume, platform::FSCTL_LOCK_VOLUME)) return true;
    }
    for (uint32_t retry = 0;; ++retry) {
        if (!control(volume, platform::FSCTL_DISMOUNT_VOLUME))
            debugPrint("DISMOUNT_VOLUME for %s without a lock failed: %d\n", name.c_str(), lastError());
        if (control(volume, platform::FSCTL_LOCK_VOLUME)) {
            debugPrint("LOCK_VOLUME for %s taken after a dismount\n", name.c_str());
            return true;
        }
        if (retry == VOLUME_DISMOUNT_LOCK_RETRIES) break;
        wait.pause(VOLUME_LOCK_RETRY_INTERVAL_MS);
    }
    debugPrint("LOCK_VOLUME for %s after a dismount failed: %d\n", name.c_str(), lastError());
    return false;
}

// Opens, locks and dismounts one volume of the drive; `volume` holds the
// handle when it is locked.
bool takeVolume(const char16_t* path, RetryWait& wait, platform::Handle& volume) {
    platform::Platform& os = platform::os();
    const std::string name = wideToUtf8(path);
    volume = os.CreateFileW(path, platform::GENERIC_READ | platform::GENERIC_WRITE,
                            platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                            platform::OPEN_EXISTING, platform::FILE_FLAG_NO_BUFFERING);
    if (volume == platform::INVALID_HANDLE_VALUE) {
        // Still mounted, and it lies on the card: as good as a refused lock.
        debugPrint("Open of %s failed: %d\n", name.c_str(), lastError());
        return false;
    }
    if (!lockHeld(volume, name, wait)) {
        os.CloseHandle(volume);
        volume = platform::INVALID_HANDLE_VALUE;
        return false;
    }
    if (!control(volume, platform::FSCTL_DISMOUNT_VOLUME)) {
        // Still ours: the lock keeps others off the volume.
        debugPrint("DISMOUNT_VOLUME for %s failed: %d\n", name.c_str(), lastError());
    }
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

class Lockout {
public:
    Lockout(int driveNumber, RetryWait& wait) : driveNumber_(driveNumber), wait_(wait) {}

    // Takes the volume at `path` ('\0' letter: one without a letter) when it
    // lies on the drive. False once a third volume of the drive ends the scan.
    bool offer(const char16_t* path, char letter) {
        VolumeExtent extent;
        const bool lettered = letter != '\0';
        if (!locate(path, extent, lettered) || extent.diskNumber != static_cast<uint32_t>(driveNumber_))
            return true;
        // A volume with a letter is listed again by its name.
        if (!lettered && seen(extent)) return true;
        seen_.push_back(extent);
        // Past the two slots a volume of the drive can only be found, not
        // held; one is enough to know the card cannot be taken whole.
        if (kept_.second != platform::INVALID_HANDLE_VALUE) {
            if (lettered)
                kept_.third = letter;
            else
                kept_.unnamedLeft = true;
            return false;
        }
        platform::Handle volume = platform::INVALID_HANDLE_VALUE;
        if (!takeVolume(path, wait_, volume)) {
            if (!lettered)
                kept_.unnamedLeft = true;
            else if (kept_.refused == '\0')
                kept_.refused = letter;
            return true;
        }
        (kept_.first == platform::INVALID_HANDLE_VALUE ? kept_.first : kept_.second) = volume;
        return true;
    }
    KeptVolumes kept() const { return kept_; }

private:
    bool seen(const VolumeExtent& extent) const {
        for (const VolumeExtent& other : seen_)
            if (other.startingOffset == extent.startingOffset && other.length == extent.length)
                return true;
        return false;
    }

    int driveNumber_;
    RetryWait& wait_;
    KeptVolumes kept_;
    std::vector<VolumeExtent> seen_;
};

}  // namespace

KeptVolumes lockDriveVolumes(int driveNumber, RetryWait& wait) {
    Lockout lockout(driveNumber, wait);
    const uint32_t mask = platform::os().GetLogicalDrives();
    for (int i = 0; i < LETTER_COUNT; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const char letter = static_cast<char>('A' + i);
        char16_t path[VOLUME_PATH_CHARS];
        formatWideLetter(path, VOLUME_PATH_CHARS, u"\\\\.\\%c:", letter);
        if (!lockout.offer(path, letter)) return lockout.kept();
    }
    for (const std::u16string& name : mountedVolumeNames())
        if (!lockout.offer(name.c_str(), '\0')) break;
    return lockout.kept();
}

bool unlockDriveVolumes(KeptVolumes& kept) {
    // Both are given back even when the first refuses.
    const bool firstUnlocked = unlockVolume(kept.first, true);
    const bool secondUnlocked = unlockVolume(kept.second, false);
    return firstUnlocked && secondUnlocked;
}
