#pragma once
// The card held as the disk stages need it: its mounted volumes locked and
// dismounted first, then the drive opened exclusively; given back in the
// opposite order, the drive before the volumes, so that the OS re-reads the
// new partition table before it mounts anything again.

#include "install/install_target.h"
#include "install/retry_wait.h"
#include "install/stage_report.h"
#include "install/volume_lockout.h"
#include "platform/platform.h"

#include <cstdint>

// How long the drive's open and lock are tried again while another program
// holds the drive, and how often.
constexpr uint32_t DRIVE_RETRY_MS = 5000;
constexpr uint32_t DRIVE_RETRY_INTERVAL_MS = 250;

class HeldDrive {
public:
    // Locks the volumes of the target's drive. Waits for another program's
    // hold keep `report` alive (none: nothing to keep alive).
    explicit HeldDrive(const InstallTarget& target, StageReport* report = nullptr);
    // Gives back whatever release() has not.
    ~HeldDrive();
    HeldDrive(const HeldDrive&) = delete;
    HeldDrive& operator=(const HeldDrive&) = delete;

    // The first volume of the drive that refused its lock ('\0': none, or one
    // without a letter). It is
    // still mounted, and whoever holds it open can write to the card.
    char refusedVolume() const { return kept_.refused; }
    // A third volume of the drive, which is never held ('\0': none).
    char thirdVolume() const { return kept_.third; }
    // A volume of the drive without a letter refused, or was one too many.
    bool unnamedVolumeLeft() const { return kept_.unnamedLeft; }
    // Every mounted volume of the drive is held; otherwise the card must not
    // be written, since a mounted file system could write over it.
    bool volumesHeld() const { return kept_.whole(); }

    // Opens the drive exclusively, trying again for DRIVE_RETRY_MS while it is
    // held elsewhere; a failed open writes "Failed to open disk".
    bool open();
    bool isOpen() const { return open_; }
    platform::Handle handle() const { return handle_; }
    uint32_t diskSectors() const { return diskSectors_; }
    uint32_t heads() const { return heads_; }
    uint32_t sectorsPerTrack() const { return sectorsPerTrack_; }

    // Releases the drive (also one that opened but could not be locked or
    // measured), then unlocks the volumes. False when the drive's close was
    // refused: written sectors are in doubt. A refused unlock is only logged:
    // the volume's handle is closed, which ends its lock.
    bool release();

private:
    void closeDrive();

    const InstallTarget& target_;
    RetryWait wait_;
    KeptVolumes kept_;
    platform::Handle handle_ = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors_ = 0, heads_ = 0, sectorsPerTrack_ = 0;
    bool open_ = false;
};
