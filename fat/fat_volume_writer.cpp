#include "fat/fat_volume_writer.h"

#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "fat/fat_sectors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

using Sector = std::array<uint8_t, SECTOR_BYTES>;

struct VolumeSectors {
    Sector bootSector{};
    Sector fsInfoSector{};
    Sector firstFatSector{};
    Sector firstRootSector{};
    Sector zeroSector{};
};

const Sector& reservedSector(const VolumeSectors& s, uint32_t n)
{
    switch (n) {
    case 0:
    case 6:  // backup boot sector
        return s.bootSector;
    case 1:
    case 7:  // FSInfo and its copy
        return s.fsInfoSector;
    default:
        return s.zeroSector;
    }
}

}  // namespace

bool writeFatVolume(platform::Handle handle, const FatGeometry& g, uint32_t heads,
                    uint32_t sectorsPerTrack, const char* label, ProgressReceiver* progress)
{
    if (progress)
        progress->begin(g.totalSteps, 0);
    ProgressScopeGuard closeLevel(progress);

    VolumeSectors s;
    buildBootSector(g, heads, sectorsPerTrack, label, s.bootSector.data());
    if (g.fatType == 32)
        buildFsInfoSector(g, s.fsInfoSector.data());
    buildFirstFatSector(g.fatType, s.firstFatSector.data());
    buildFirstRootSector(label, s.firstRootSector.data());

    // Reserved region, both FATs and the root region lie back to back: one
    // run, mostly zeros. Requests with nothing but zeros come from the shared
    // zero buffer; the others are put together here.
    struct Placed {
        uint32_t n;
        const Sector* sector;
    };
    std::vector<Placed> placed;
    for (uint32_t n = 0; n < g.reservedSectors; ++n) {
        const Sector& sector = reservedSector(s, n);
        if (&sector != &s.zeroSector)
            placed.push_back({n, &sector});
    }
    placed.push_back({g.firstFatCopy(0), &s.firstFatSector});
    placed.push_back({g.firstFatCopy(1), &s.firstFatSector});
    placed.push_back({g.rootStart(), &s.firstRootSector});

    const uint32_t total = g.rootStart() + g.rootSectors;
    std::vector<uint8_t> scratch;
    uint32_t written = 0;
    // The MBR rewrite before the volume counts as the first step.
    const RequestDone reportSectors = [&](uint32_t sectors) {
        for (uint32_t i = 0; i < sectors; ++i) {
            ++written;
            if (progress)
                progress->update(written + 1);
        }
    };
    // The bytes of the run [at, at + count): false when it is all zeros, else
    // put together in `scratch`. `next` walks `placed` along with the runs.
    size_t next = 0;
    const auto compose = [&](uint32_t at, uint32_t count) {
        if (next >= placed.size() || placed[next].n >= at + count)
            return false;
        scratch.assign(size_t(count) * SECTOR_BYTES, 0);
        for (; next < placed.size() && placed[next].n < at + count; ++next)
            std::memcpy(scratch.data() + size_t(placed[next].n - at) * SECTOR_BYTES,
                        placed[next].sector->data(), SECTOR_BYTES);
        return true;
    };
    for (uint32_t at = 0; at < total;) {
        const uint32_t count = std::min(total - at, RUN_SECTORS);
        const SectorFault fault =
            compose(at, count)
                ? writeSectors(handle, g.partitionStart + at, count, scratch.data(), reportSectors)
                : writeZeroSectors(handle, g.partitionStart + at, count, reportSectors);
        if (fault) {
            printSectorFault(fault, false);
            return false;
        }
        at += count;
    }

    // Read back the whole volume once it is written, so that a later request
    // that landed on an earlier one's sectors shows too.
    next = 0;
    for (uint32_t at = 0; at < total;) {
        const uint32_t count = std::min(total - at, RUN_SECTORS);
        const SectorFault fault =
            compose(at, count) ? verifySectors(handle, g.partitionStart + at, count, scratch.data())
                               : verifyZeroSectors(handle, g.partitionStart + at, count);
        if (fault) {
            printSectorFault(fault, true);
            return false;
        }
        at += count;
    }
    return true;
}
