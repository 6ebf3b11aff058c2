#include "install/drive_fit.h"

#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/fat_geometry.h"
#include "install/partition_format_stage.h"

#include <cstdio>

namespace {

// The smallest FAT16 volume: one-sector clusters, as many as readers need
// to take it for FAT16, behind its boot sector, two FAT copies and the root
// directory. The formatter makes nothing smaller.
constexpr uint32_t FAT16_FAT_SECTORS =
    ((FAT16_MIN_CLUSTERS + 2) * 2 + SECTOR_BYTES - 1) / SECTOR_BYTES;
constexpr uint32_t SMALLEST_FAT16_SECTORS = 1 + 2 * FAT16_FAT_SECTORS + 32 + FAT16_MIN_CLUSTERS;

// Both partitions are laid out, the data partition large enough to format.
bool layoutFits(uint64_t sectors, uint32_t heads, uint32_t sectorsPerTrack) {
    if (sectors > UINT32_MAX) return false;
    uint32_t first = 0, count = 0;
    for (uint32_t index : {0u, 1u})
        if (!partitionExtent(static_cast<uint32_t>(sectors), heads, sectorsPerTrack, CARD_LAYOUT,
                             index, first, count))
            return false;
    return count >= SMALLEST_FAT16_SECTORS;
}

// "4.0 GB (4000000000 bytes)": decimal units, as the drive list counts them.
std::string sizeText(uint64_t bytes) {
    const double gb = static_cast<double>(bytes) / 1e9;
    char text[64];
    if (gb >= 1.0)
        std::snprintf(text, sizeof text, "%.1f GB (%llu bytes)", gb,
                      static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.0f MB (%llu bytes)", static_cast<double>(bytes) / 1e6,
                      static_cast<unsigned long long>(bytes));
    return text;
}

}  // namespace

platform::FailureCause driveFitCause(const DriveState& state) {
    using platform::FailureCause;
    if (state.bytesPerSector == 0) return FailureCause::Unknown;
    if (state.bytesPerSector != SECTOR_BYTES) return FailureCause::SectorSize;
    const uint64_t sectors = static_cast<uint64_t>(state.diskBytes) / SECTOR_BYTES;
    if (sectors > UINT32_MAX) return FailureCause::CardTooLarge;
    // A geometry without heads or tracks is the partitioner's own refusal.
    if (!state.described || state.description.heads == 0 || state.description.sectorsPerTrack == 0)
        return FailureCause::Unknown;
    if (!layoutFits(sectors, state.description.heads, state.description.sectorsPerTrack))
        return FailureCause::CardTooSmall;
    return FailureCause::Unknown;
}

uint64_t smallestCardBytes(uint32_t heads, uint32_t sectorsPerTrack) {
    // The layout fits every drive from some size on: the least such size.
    uint64_t low = 0, high = UINT32_MAX;
    if (!layoutFits(high, heads, sectorsPerTrack)) return 0;
    while (low + 1 < high) {
        const uint64_t middle = low + (high - low) / 2;
        (layoutFits(middle, heads, sectorsPerTrack) ? high : low) = middle;
    }
    return high * SECTOR_BYTES;
}

std::string driveFitSentence(const DriveState& state, const std::string& target) {
    const platform::FailureCause cause = driveFitCause(state);
    if (cause == platform::FailureCause::Unknown) return std::string();
    platform::CauseDetails details;
    details.target = target;
    if (cause == platform::FailureCause::SectorSize) {
        details.size = std::to_string(state.bytesPerSector);
    } else {
        details.size = sizeText(static_cast<uint64_t>(state.diskBytes));
        if (cause == platform::FailureCause::CardTooSmall)
            details.minimum = sizeText(
                smallestCardBytes(state.description.heads, state.description.sectorsPerTrack));
    }
    return platform::causeSentence(cause, details);
}
