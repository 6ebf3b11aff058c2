#pragma once
// Taking the card's mounted volumes away from the OS while the disk is
// rewritten, and giving them back afterwards.

#include "install/retry_wait.h"
#include "platform/platform.h"

// At most two locked volume handles; empty slots hold INVALID_HANDLE_VALUE.
struct KeptVolumes {
    platform::Handle first = platform::INVALID_HANDLE_VALUE;
    platform::Handle second = platform::INVALID_HANDLE_VALUE;
    // The letter of the first volume on the drive that refused its lock ('\0': none).
    char refused = '\0';
    // The letter of a volume on the drive beyond the two kept ('\0': none).
    char third = '\0';
    // A volume of the drive without a letter refused, or was one too many.
    bool unnamedLeft = false;

    // Every mounted volume of the drive is locked: none can write to the card.
    bool whole() const { return refused == '\0' && third == '\0' && !unnamedLeft; }
};

// How long a refused volume lock is tried again before the volume is taken
// by a dismount, and how often.
constexpr uint32_t VOLUME_LOCK_RETRY_MS = 3000;
constexpr uint32_t VOLUME_LOCK_RETRY_INTERVAL_MS = 250;
// How often a lock refused after the dismount is tried again, each time with
// another dismount, VOLUME_LOCK_RETRY_INTERVAL_MS apart.
constexpr uint32_t VOLUME_DISMOUNT_LOCK_RETRIES = 3;

// Locks and dismounts the volumes that lie on drive `driveNumber`: first those
// with a letter, in letter order, then those mounted without one; the first
// two are kept. After the second the scan only looks for a third volume of the
// drive, which it notes and leaves alone. Where a volume lies is asked through
// a handle without access rights; one whose extents cannot be read is logged
// and left alone. A volume of the drive that cannot be opened, or whose lock
// is still refused after VOLUME_LOCK_RETRY_MS and 1 + VOLUME_DISMOUNT_LOCK_RETRIES
// dismounts, counts as refused. A refused dismount is logged and the volume kept, since it is
// locked. A volume left mounted (refused or third) is noted for the caller,
// which must then not write.
KeptVolumes lockDriveVolumes(int driveNumber, RetryWait& wait);

// Unlocks and closes the first kept handle, then the second, and empties the
// slots. False when an unlock was refused (logged; the handle is closed anyway,
// which ends the lock all the same).
bool unlockDriveVolumes(KeptVolumes& kept);
