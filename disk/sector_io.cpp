#include "disk/sector_io.h"

#include "disk/drive_fault.h"
#include "disk/card_requests.h"
#include "disk/raw_disk.h"
#include "util/debug.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Zero-initialised once, never written.
const uint8_t zeros[RUN_SECTORS * SECTOR_BYTES] = {};

SectorFault faultAt(SectorFault::Kind kind, uint32_t lba, uint32_t detail) {
    SectorFault fault;
    fault.kind = kind;
    fault.lba = lba;
    fault.detail = detail;
    // Kept for the cause of a failed run, whoever words the fault.
    const bool withCode = kind == SectorFault::POSITION || kind == SectorFault::TRANSFER;
    noteDriveFault({DriveFault::SECTOR, withCode ? detail : 0, lba});
    return fault;
}

SectorFault positionAt(platform::Handle handle, uint32_t lba) {
    const uint64_t offset = uint64_t(lba) * SECTOR_BYTES;
    const uint32_t low = static_cast<uint32_t>(offset);
    int32_t high = static_cast<int32_t>(offset >> 32);
    const int32_t expectedHigh = high;
    const uint32_t result = platform::os().SetFilePointer(handle, static_cast<int32_t>(low), &high,
                                                          platform::FILE_BEGIN);
    // Sector offsets are multiples of 512, so a true position never reads as
    // INVALID_SET_FILE_POINTER: anything but the asked offset is a failure,
    // and a transfer after it would land on the wrong sectors.
    if (result == low && high == expectedHigh) return {};
    return faultAt(SectorFault::POSITION, lba, platform::os().GetLastError());
}

// One request: `count` sectors (at most RUN_SECTORS) at `lba`.
SectorFault request(platform::Handle handle, uint32_t lba, uint32_t count, void* readInto,
                    const void* writeFrom) {
    const CardRequest underWay;
    if (SectorFault fault = positionAt(handle, lba)) return fault;
    platform::Platform& os = platform::os();
    const uint32_t bytes = count * SECTOR_BYTES;
    uint32_t moved = 0;
    const bool ok = readInto != nullptr ? os.ReadFile(handle, readInto, bytes, &moved)
                                        : os.WriteFile(handle, writeFrom, bytes, &moved);
    if (!ok) return faultAt(SectorFault::TRANSFER, lba, os.GetLastError());
    if (moved != bytes) return faultAt(SectorFault::SHORT, lba, moved);
    return {};
}

// Splits a run into requests. Reads fill `readBase`; writes take their bytes
// from `writeBase`, or from its start for every request when `repeat` is set.
SectorFault run(platform::Handle handle, uint32_t lba, uint32_t count, uint8_t* readBase,
                const uint8_t* writeBase, bool repeat, const RequestDone& done) {
    for (uint32_t at = 0; at < count;) {
        const uint32_t part = std::min(count - at, RUN_SECTORS);
        const size_t offset = repeat ? 0 : size_t(at) * SECTOR_BYTES;
        if (SectorFault fault = request(handle, lba + at, part,
                                        readBase != nullptr ? readBase + offset : nullptr,
                                        writeBase != nullptr ? writeBase + offset : nullptr))
            return fault;
        at += part;
        if (done) done(part);
    }
    return {};
}

// Reads back a run and compares it, request by request, with `expected`
// (advancing through it, or its first RUN_SECTORS sectors again each time
// when `repeat` is set).
SectorFault verify(platform::Handle handle, uint32_t lba, uint32_t count, const uint8_t* expected,
                   bool repeat) {
    std::vector<uint8_t> got(size_t(std::min(count, RUN_SECTORS)) * SECTOR_BYTES);
    for (uint32_t at = 0; at < count;) {
        const uint32_t part = std::min(count - at, RUN_SECTORS);
        if (SectorFault fault = request(handle, lba + at, part, got.data(), nullptr)) return fault;
        const uint8_t* want = expected + (repeat ? 0 : size_t(at) * SECTOR_BYTES);
        for (uint32_t i = 0; i < part; ++i) {
            const size_t offset = size_t(i) * SECTOR_BYTES;
            if (std::memcmp(got.data() + offset, want + offset, SECTOR_BYTES) != 0)
                return faultAt(SectorFault::MISMATCH, lba + at + i, 0);
        }
        at += part;
    }
    return {};
}

}  // namespace

const uint8_t* zeroRun() { return zeros; }

SectorFault readSectors(platform::Handle handle, uint32_t lba, uint32_t count, void* buffer,
                        const RequestDone& done) {
    return run(handle, lba, count, static_cast<uint8_t*>(buffer), nullptr, false, done);
}

SectorFault writeSectors(platform::Handle handle, uint32_t lba, uint32_t count,
                         const void* buffer, const RequestDone& done) {
    return run(handle, lba, count, nullptr, static_cast<const uint8_t*>(buffer), false, done);
}

SectorFault writeZeroSectors(platform::Handle handle, uint32_t lba, uint32_t count,
                             const RequestDone& done) {
    return run(handle, lba, count, nullptr, zeros, true, done);
}

SectorFault verifySectors(platform::Handle handle, uint32_t lba, uint32_t count,
                          const void* expected) {
    return verify(handle, lba, count, static_cast<const uint8_t*>(expected), false);
}

SectorFault verifyZeroSectors(platform::Handle handle, uint32_t lba, uint32_t count) {
    return verify(handle, lba, count, zeros, true);
}

void printSectorFault(const SectorFault& fault, bool reading) {
    const char* verb = reading ? "read" : "write";
    switch (fault.kind) {
    case SectorFault::POSITION:
        debugPrint("Unable to position at sector %u: %u\n", fault.lba, fault.detail);
        break;
    case SectorFault::TRANSFER:
        debugPrint("Unable to %s sector %u: %u\n", verb, fault.lba, fault.detail);
        break;
    case SectorFault::SHORT:
        debugPrint("Short %s of sector %u: %u bytes\n", verb, fault.lba, fault.detail);
        break;
    case SectorFault::MISMATCH:
        debugPrint("Sector %u does not read back as written\n", fault.lba);
        break;
    case SectorFault::NONE:
        break;
    }
}
