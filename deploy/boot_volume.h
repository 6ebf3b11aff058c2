#pragma once
// Finding the card's boot partition among the mounted volumes, and where its
// boot files go. The install stage and command-line tools share these steps.

#include "disk/partition_table.h"
#include "platform/platform.h"

#include <QString>

#include <string>

// Sources of the deployment, relative to the working directory.
constexpr char BOOT_FOLDER_SOURCE[] = "files/boot";
constexpr char FIRMWARE_SOURCE[] = "firmware/t6-board.fw";

struct BootVolume {
    // The letter it was found under; '\0' for a volume found by its name.
    char letter = 0;
    // What opens the volume itself: "\\.\E:", or "\\?\Volume{...}" for
    // a volume without a letter.
    std::u16string path;
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
};

// One pass over the drive letters A to Z, then over the volumes the OS lists
// by name (FindFirstVolumeW; a volume may have no letter): the first volume
// whose first extent lies on `driveNumber` exactly where the boot partition
// `boot` lies (same first sector, same length) is the boot volume. Where a
// volume lies is asked through a handle without access rights, which wakes
// no other device; only the match is opened for reading and writing, and its
// handle is left open in `found`. A letter whose volume cannot be opened
// prints "failed <code>" on standard output and is passed over. False when
// none fits.
bool findBootVolume(int driveNumber, const PartitionPlace& boot, BootVolume& found);

// Asks the OS to dismount the volume (the answer does not matter: the next use
// of its files mounts it again) and closes its handle.
void dismountBootVolume(BootVolume& volume);

// Where the volume's files are reached, with a trailing separator: through
// its letter, or through its name when it has none. False, with a debug line,
// when the backend gives no way to its files.
bool bootVolumeRoot(const BootVolume& volume, QString& root);

// Has the volume opened by `path` ("\\.\E:", "\\?\Volume{...}") write
// every copied file to the card (the files and the volume's own structures).
// False, with a debug line, when it cannot.
bool flushBootVolume(const std::u16string& path);

// "<root>boot" and "<root>boot<separator>bzImage".
QString bootFolderDestination(const QString& root);
QString firmwareDestination(const QString& root);
