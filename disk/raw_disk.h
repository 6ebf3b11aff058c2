#pragma once
// Exclusive, sector-addressed access to a physical drive.

#include "platform/platform.h"

#include <cstdint>

constexpr uint32_t SECTOR_BYTES = 512;

// Where openPhysicalDrive stopped, with the OS's error code there.
struct DriveOpenFailure {
    enum Step { None, Open, Lock, Geometry } step = None;
    uint32_t error = 0;
};

// Opens `path` ("\\.\PhysicalDriveN") exclusively and unbuffered, locks it and
// reads its geometry. `handle` is written as soon as the open returns, also on
// failure; the geometry only on success. Refuses sector sizes other than 512
// and drives of 2^32 sectors or more. `failure`, when given, says where a
// failed open stopped.
bool openPhysicalDrive(const char* path, platform::Handle& handle, uint32_t& diskSectors,
                       uint32_t& heads, uint32_t& sectorsPerTrack,
                       DriveOpenFailure* failure = nullptr);

// One 512-byte sector at byte offset lba * 512 (computed in 64 bits); true
// exactly when the positioning landed there and 512 bytes moved. Runs of
// sectors: disk/sector_io.h.
bool readSector(platform::Handle handle, uint32_t lba, void* buffer);
bool writeSector(platform::Handle handle, uint32_t lba, const void* buffer);

// Has the drive store everything written so far; false, with a debug line,
// when it cannot: the card may then lack some of it.
bool flushDisk(platform::Handle handle);

// Unlocks, asks the OS to re-read the partition table, closes. False (with a
// debug line) only when the close fails: written sectors may then be lost.
bool releaseDisk(platform::Handle handle);
