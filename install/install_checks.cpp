#include "install/install_checks.h"

#include "disk/drive_fault.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/fat_geometry.h"
#include "install/drive_fit.h"
#include "install/held_drive.h"
#include "install/partition_format_stage.h"
#include "util/debug.h"

#include <cstdint>

namespace {

// The drive as it is now; while another program holds it, asked again as
// the drive's own open is (held_drive.h).
DriveState examineUnlessHeld(int number, RetryWait& wait) {
    const uint64_t deadline = wait.now() + DRIVE_RETRY_MS;
    for (;;) {
        DriveState state = examineDrive(number);
        if (state.opened || state.openError != platform::ERROR_SHARING_VIOLATION ||
            wait.now() >= deadline)
            return state;
        wait.pause(DRIVE_RETRY_INTERVAL_MS);
    }
}

bool driveAsListed(const InstallTarget& target, RetryWait& wait, DriveDescription& now) {
    const int number = target.driveNumber();
    const DriveState state = examineUnlessHeld(number, wait);
    const std::optional<ListedDrive>& listed = target.listed();
    if (!state.opened) {
        debugPrint("Drive %d cannot be opened to check it: %u\n", number, state.openError);
        // The refusal is the drive's last word, for the failure's account.
        noteDriveFault({DriveFault::OPEN, state.openError, 0});
        return false;
    }
    if ((!listed || listed->removable) && !state.removable) {
        debugPrint("Drive %d does not hold removable media\n", number);
        return false;
    }
    if (!state.media) {
        debugPrint("Drive %d holds no media\n", number);
        return false;
    }
    // A card its layout cannot go on is refused as such, not as another drive.
    if (driveFitCause(state) != platform::FailureCause::Unknown) {
        debugPrint("Drive %d of %lld bytes in %u-byte sectors cannot take the card's layout\n",
                   number, static_cast<long long>(state.diskBytes), state.bytesPerSector);
        return false;
    }
    if (!state.described || (listed && !listed->description.sameListing(state.description))) {
        const DriveDescription& was = listed ? listed->description : state.description;
        debugPrint("Drive %d is no longer the listed %s %s of %lld bytes\n", number,
                   was.vendor.c_str(), was.product.c_str(), static_cast<long long>(was.diskSize));
        return false;
    }
    if (state.writeProtected) {
        debugPrint("Drive %d is write-protected\n", number);
        return false;
    }
    now = state.description;
    return true;
}

// The boot volume's clusters as the partition table writer and the
// formatter will lay them out on this drive, against what the copies take.
bool payloadFits(const DriveDescription& drive, const PayloadSources& sources) {
    const int64_t sectors = drive.diskSize / SECTOR_BYTES;
    uint32_t first = 0, count = 0;
    FatGeometry geometry;
    // A drive that cannot be laid out or formatted is refused by those
    // stages, with their own lines, before any file is copied.
    if (sectors > int64_t(UINT32_MAX) ||
        !partitionExtent(static_cast<uint32_t>(sectors), drive.heads, drive.sectorsPerTrack,
                         CARD_LAYOUT, BOOT_PARTITION_INDEX, first, count) ||
        !chooseFatGeometry(first, count, FAT_TYPE_BY_SIZE, CLUSTER_BYTES_BY_SIZE, geometry))
        return true;
    const uint32_t clusterBytes = geometry.sectorsPerCluster * SECTOR_BYTES;
    const uint64_t needed = payloadClusters(sources, clusterBytes);
    const uint32_t free = freeClustersOf(geometry);
    if (needed > free) {
        debugPrint("The boot files need %llu clusters of %u bytes; the boot volume has %u\n",
                   static_cast<unsigned long long>(needed), clusterBytes, free);
        return false;
    }
    return true;
}

}  // namespace

bool installationMayStart(const InstallTarget& target, FileDeployer* deployer,
                          StageReport* report) {
    RetryWait wait(report);
    if (deployer != nullptr) {
        locateSources(deployer->sources());
        if (!checkSources(deployer->sources())) return false;
    }
    DriveDescription drive;
    if (!driveAsListed(target, wait, drive)) return false;
    return deployer == nullptr || payloadFits(drive, deployer->sources());
}
