#pragma once
// One open handle of the simulated machine, on a drive or on a volume.

#include "platform/sim/sim_image.h"
#include "platform/sim_platform.h"

#include <cstdint>
#include <cstdio>

namespace platform {

struct SimPlatform::Open {
    int drive = -1;           // physical drive number, or -1 for a volume
    uint64_t volumeId = 0;    // the volume opened (volume handles)
    char letter = '\0';       // the volume's letter ('\0': a drive, or a volume without one)
    bool exclusive = false;   // share mode 0
    bool writable = false;    // opened with GENERIC_WRITE
    bool readable = false;    // opened with GENERIC_READ
    uint32_t access() const { return (readable ? GENERIC_READ : 0) | (writable ? GENERIC_WRITE : 0); }
    bool locked = false;
    uint32_t mediaChangesAtOpen = 0;  // the drive's MediaChangeCount when opened
    uint64_t position = 0;
    std::FILE* file = nullptr;
    // The drive's partition table when it was opened for writing, to tell at
    // the release whether the OS must read a new one.
    sim::TableBytes tableAtOpen{};
};

}  // namespace platform
