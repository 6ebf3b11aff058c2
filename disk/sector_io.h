#pragma once
// Checked transfers of contiguous sectors. A run goes to the drive in requests
// of up to RUN_SECTORS sectors, each one positioning and one transfer, both
// checked; the first request that fails or comes up short ends the run, and
// nothing after it is transferred. No debug line is written here: each caller
// words the failure in its own terms from the SectorFault.

#include "platform/platform.h"

#include <cstdint>
#include <functional>

// The largest request: 1 MiB.
constexpr uint32_t RUN_SECTORS = 2048;

struct SectorFault {
    enum Kind { NONE, POSITION, TRANSFER, SHORT, MISMATCH };
    Kind kind = NONE;
    uint32_t lba = 0;     // first sector of the request that failed; MISMATCH: the sector that differs
    uint32_t detail = 0;  // the OS error (POSITION, TRANSFER) or the bytes moved (SHORT)
    explicit operator bool() const { return kind != NONE; }
};

// Called after each complete request with the number of its sectors.
using RequestDone = std::function<void(uint32_t sectors)>;

SectorFault readSectors(platform::Handle handle, uint32_t lba, uint32_t count, void* buffer,
                        const RequestDone& done = nullptr);
SectorFault writeSectors(platform::Handle handle, uint32_t lba, uint32_t count,
                         const void* buffer, const RequestDone& done = nullptr);
// Writes `count` zero sectors, all requests from one shared zero buffer.
SectorFault writeZeroSectors(platform::Handle handle, uint32_t lba, uint32_t count,
                             const RequestDone& done = nullptr);

// Read-back: reads `count` sectors at `lba` in runs and compares them with
// `expected` (or with zeros). A read fault comes back as it is; a difference
// as MISMATCH naming the first sector that differs.
SectorFault verifySectors(platform::Handle handle, uint32_t lba, uint32_t count,
                          const void* expected);
SectorFault verifyZeroSectors(platform::Handle handle, uint32_t lba, uint32_t count);

// RUN_SECTORS zero sectors, shared by every writer of zeros.
const uint8_t* zeroRun();

// The checked-transfer lines: "Unable to position at sector %u: %u\n",
// "Unable to read|write sector %u: %u\n", "Short read|write of sector %u: %u bytes\n",
// "Sector %u does not read back as written\n".
void printSectorFault(const SectorFault& fault, bool reading);
