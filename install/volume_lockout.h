#pragma once
// Taking the card's mounted volumes away from the OS while the disk is
// rewritten, and giving them back afterwards.

#include "platform/platform.h"

// At most two locked volume handles; empty slots hold INVALID_HANDLE_VALUE.
struct KeptVolumes {
    platform::Handle first = platform::INVALID_HANDLE_VALUE;
    platform::Handle second = platform::INVALID_HANDLE_VALUE;
    // The letter of the first volume on the drive that refused its lock ('\0': none).
    char refused = '\0';
    // The letter of a volume on the drive beyond the two kept ('\0': none).
    char third = '\0';

    // Every mounted volume of the drive is locked: none can write to the card.
    bool whole() const { return refused == '\0' && third == '\0'; }
};

// Locks and dismounts the volumes that lie on drive `driveNumber`, in letter
// order, keeping the first two; after the second the scan only looks for a
// third volume of the drive, which it notes and leaves alone. Volumes that
// cannot be examined or locked are logged and left alone; a refused dismount
// is logged and the volume kept, since it is locked. A volume left mounted
// (refused or third) is noted for the caller, which must then not write.
KeptVolumes lockDriveVolumes(int driveNumber);

// Unlocks and closes the first kept handle, then the second, and empties the
// slots. False when an unlock was refused (logged; the handle is closed anyway).
bool unlockDriveVolumes(KeptVolumes& kept);
