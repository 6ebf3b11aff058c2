#include "fat/fat_volume_writer.h"

#include "disk/raw_disk.h"
#include "fat/fat_sectors.h"
#include "fat/sector_io.h"

#include <array>

namespace {

using Sector = std::array<uint8_t, SECTOR_BYTES>;

struct VolumeSectors {
    Sector bootSector{};
    Sector fsInfoSector{};
    Sector firstFatSector{};
    Sector firstRootSector{};
    Sector zeroSector{};
};

// Writes the sectors in ascending order and counts them for the progress receiver.
class SectorSequence {
public:
    SectorSequence(platform::Handle handle, uint32_t partitionStart, ProgressReceiver* progress)
        : handle_(handle), start_(partitionStart), progress_(progress)
    {
    }

    bool write(uint32_t n, const Sector& sector)
    {
        if (!writeCheckedSector(handle_, start_ + n, sector.data()))
            return false;
        // The MBR rewrite before the volume counts as the first step.
        ++written_;
        if (progress_)
            progress_->update(written_ + 1);
        return true;
    }

private:
    platform::Handle handle_;
    uint32_t start_;
    ProgressReceiver* progress_;
    uint32_t written_ = 0;
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

    SectorSequence out(handle, g.partitionStart, progress);
    for (uint32_t n = 0; n < g.reservedSectors; ++n) {
        if (!out.write(n, reservedSector(s, n)))
            return false;
    }
    for (uint32_t copy = 0; copy < 2; ++copy) {
        const uint32_t first = g.firstFatCopy(copy);
        if (!out.write(first, s.firstFatSector))
            return false;
        for (uint32_t n = first + 1; n < first + g.fatSectors; ++n) {
            if (!out.write(n, s.zeroSector))
                return false;
        }
    }
    const uint32_t root = g.rootStart();
    if (!out.write(root, s.firstRootSector))
        return false;
    for (uint32_t n = root + 1; n < root + g.rootSectors; ++n) {
        if (!out.write(n, s.zeroSector))
            return false;
    }
    return true;
}
