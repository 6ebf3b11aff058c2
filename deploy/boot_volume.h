#pragma once
// Finding the card's boot partition among the mounted volumes, and where its
// boot files go. The install stage and command-line tools share these steps.

#include "disk/partition_table.h"
#include "platform/platform.h"

#include <QString>

// Sources of the deployment, relative to the working directory.
constexpr char BOOT_FOLDER_SOURCE[] = "files/boot";
constexpr char FIRMWARE_SOURCE[] = "firmware/t6-board.fw";

struct BootVolume {
    char letter = 0;
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
};

// One pass over the drive letters A to Z: the first volume that names a device,
// opens, and whose first extent lies on `driveNumber` exactly where the boot
// partition `boot` lies (same first sector, same length) is the boot volume;
// its handle is left open in `found`. A volume that cannot be opened prints
// "failed <code>" on standard output and is passed over. False when none fits.
bool findBootVolume(int driveNumber, const PartitionPlace& boot, BootVolume& found);

// Asks the OS to dismount the volume (the answer does not matter: the next use
// of its files mounts it again) and closes its handle.
void dismountBootVolume(BootVolume& volume);

// Where the volume's files are reached, with a trailing separator. False, with
// a debug line, when the backend gives no way to its files.
bool bootVolumeRoot(char letter, QString& root);

// Has the volume write every copied file to the card (the files and the
// volume's own structures). False, with a debug line, when it cannot.
bool flushBootVolume(char letter);

// "<root>boot" and "<root>boot<separator>bzImage".
QString bootFolderDestination(const QString& root);
QString firmwareDestination(const QString& root);
