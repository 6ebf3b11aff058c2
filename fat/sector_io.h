#pragma once
// Single-sector transfers for the formatter in which every positioning and
// every transfer is checked; each failure writes one debug line.

#include "platform/platform.h"

#include <cstdint>

// One 512-byte sector at byte offset lba * 512: one positioning, one transfer.
bool readCheckedSector(platform::Handle handle, uint32_t lba, void* buffer);
bool writeCheckedSector(platform::Handle handle, uint32_t lba, const void* buffer);
