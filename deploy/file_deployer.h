#pragma once
// Where the deployment stage puts the boot files: onto the card's boot volume
// as the OS mounts it, or (for an image file) into the volume inside the image.
// The stage calls these in order and keeps the progress and failure rules.

#include "disk/partition_table.h"

class FileDeployer {
public:
    virtual ~FileDeployer() = default;

    // Finds the boot volume of the card in drive `driveNumber`, which lies
    // where `boot` says. False when there is none (yet): the stage asks again
    // for a while, then fails.
    virtual bool findVolume(int driveNumber, const PartitionPlace& boot) = 0;
    // Makes the found volume's files reachable. False when they are not: the
    // copies are skipped and the stage fails.
    virtual bool openVolume() = 0;
    // The boot folder to \boot, then the firmware to \boot\bzImage, so that
    // the firmware replaces any bzImage the folder brought along.
    virtual bool copyBootFolder() = 0;
    virtual bool copyFirmware() = 0;
    // Ends the file access, whether openVolume succeeded or not. False, with a
    // debug line, when the copied files could not be made to reach the card.
    virtual bool closeVolume() = 0;
};
