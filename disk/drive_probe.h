#pragma once
// Probing one numbered physical drive for a Compact Flash card: what the
// wizard's drive list and t6-card's list are made from. Reads only.

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Drive numbers probed: "\\.\PhysicalDrive0" to "\\.\PhysicalDrive15".
constexpr int FIRST_PROBED_DRIVE = 0;
constexpr int LAST_PROBED_DRIVE = 15;
// Size of the device descriptor buffer asked for.
constexpr uint32_t DEVICE_DESCRIPTOR_BYTES = 10000;

struct DriveDescription {
    std::string vendor;
    std::string product;
    int64_t diskSize = 0;  // bytes
    uint32_t heads = 0;            // tracks per cylinder
    uint32_t sectorsPerTrack = 0;

    // The same drive as far as the list can tell: vendor, product and size.
    bool sameListing(const DriveDescription& other) const {
        return vendor == other.vendor && product == other.product && diskSize == other.diskSize;
    }
};

// Opens drive `number` and keeps it only if it has removable media, media
// present, 512-byte sectors and a device description, which fills
// `description`. Every failure is silent: the drive is just not a candidate.
bool probeDrive(int number, DriveDescription& description);

// What a drive is at one moment, every question asked whatever the answers
// before it: for the check, just before a card is written, that it is still
// the one the user chose.
struct DriveState {
    bool opened = false;
    uint32_t openError = 0;       // when it did not open
    bool removable = false;       // the hot-plug record says removable media
    bool media = false;           // media present
    bool described = false;       // 512-byte sectors and a device description
    bool writeProtected = false;  // the writability query failed with ERROR_WRITE_PROTECT
    DriveDescription description;  // when described
    // The geometry's sector size and size in bytes, whenever it answered
    // (also for a drive that is not described because of them).
    uint32_t bytesPerSector = 0;
    int64_t diskBytes = 0;
};
DriveState examineDrive(int number);

// The hot-plug record of an open drive says its media are removable.
bool mediaRemovable(platform::Handle drive);

// The capacity as a row shows it: decimal megabytes, or gigabytes from
// 1000 MB on, truncated toward zero.
struct DriveCapacity {
    long long whole;
    const char* unit;  // "MB" or "GB"
};
DriveCapacity driveCapacity(int64_t diskSize);

// The NUL-terminated text at `offset` in a descriptor buffer. Offset 0 means
// the field is not reported; an offset at or past the end gives an empty text,
// and the text never runs past the buffer.
std::string descriptorText(const uint8_t* buffer, std::size_t size, uint32_t offset);
