#pragma once
// Which physical drive a volume lies on.

#include "platform/platform.h"

#include <cstdint>

// Room for the extents record with exactly one extent.
constexpr uint32_t VOLUME_EXTENTS_BUFFER_BYTES = platform::DISK_EXTENTS_ONE_SIZE;
// Wide path buffers for volume names ("\\.\E:", "E:").
constexpr int VOLUME_PATH_CHARS = 32;

// Asks an open volume for its disk extents and gives the drive number of the
// first extent. False when the query fails (also for a volume of more than one
// extent, whose answer does not fit); GetLastError then tells why.
bool volumeDiskNumber(platform::Handle volume, uint32_t& diskNumber);
