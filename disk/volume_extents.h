#pragma once
// Where a volume lies: which physical drive, and which bytes of it.

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

// Room for the extents record with exactly one extent.
constexpr uint32_t VOLUME_EXTENTS_BUFFER_BYTES = platform::DISK_EXTENTS_ONE_SIZE;
// Wide path buffers for volume names ("\\.\E:", "E:").
constexpr int VOLUME_PATH_CHARS = 32;

struct VolumeExtent {
    uint32_t diskNumber = 0;
    uint64_t startingOffset = 0;  // bytes from the start of the drive
    uint64_t length = 0;          // bytes
};

// Asks an open volume for its disk extents and gives the first. False when the
// query fails (also for a volume of more than one extent, whose answer does not
// fit); GetLastError then tells why.
bool volumeFirstExtent(platform::Handle volume, VolumeExtent& extent);
// The drive number of that extent.
bool volumeDiskNumber(platform::Handle volume, uint32_t& diskNumber);

// Every volume the OS has mounted, letter or not, by name, with the trailing
// separator taken off so that the name opens the volume itself.
std::vector<std::u16string> mountedVolumeNames();
