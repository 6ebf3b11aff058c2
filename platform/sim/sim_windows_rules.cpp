// The rules Windows keeps for raw access to disks and volumes, as the
// simulated machine keeps them.
#include "platform/sim_platform.h"

#include "platform/sim/sim_image.h"
#include "platform/sim/sim_open.h"

namespace platform {

// Share mode 0 excludes every other opener, and an exclusive holder excludes
// everyone (handles without access rights are no openers in this sense); so does another program that holds the drive for a while.
// A holder with write access that shares only reading refuses whoever asks
// to write and whoever denies it write sharing (CreateFileW, "Creating and
// Opening Files": the sharing rules).
uint32_t SimPlatform::driveOpenRefusal(int number, uint32_t access, uint32_t shareMode) const {
    for (const auto& entry : opens_)
        if (entry.second->drive == number && entry.second->access() != 0 &&
            (entry.second->exclusive || shareMode == 0))
            return ERROR_SHARING_VIOLATION;
    const SimDrive& drive = drives_.at(number);
    if (shareMode == 0 && nowMs() < drive.busyForMs) return ERROR_SHARING_VIOLATION;
    if (nowMs() < drive.sharedHoldMs &&
        ((access & GENERIC_WRITE) != 0 || (shareMode & FILE_SHARE_WRITE) == 0))
        return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;
}

uint32_t SimPlatform::driveLockRefusal(int number) const {
    if (nowMs() < drives_.at(number).busyForMs)
        return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;
}

// One lock per volume; and a volume on whose files a program has handles open
// cannot be locked until a dismount has taken those handles away.
uint32_t SimPlatform::volumeLockRefusal(const Open& open, sim::VolumeEntry& entry) const {
    for (const auto& other : opens_)
        if (other.second.get() != &open && other.second->volumeId == entry.id && other.second->locked)
            return ERROR_ACCESS_DENIED;
    if (entry.volume.heldOpen) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// Any process may mount a dismounted volume again unless it is locked: the
// program that held it does so at once while its retries last.
bool SimPlatform::dismountStays(sim::VolumeEntry& entry) {
    if (choices_.remountAfterDismountMs == 0 || !entry.volume.heldOpen) return true;
    const uint64_t now = nowMs();
    if (entry.remountsUntilMs == 0) entry.remountsUntilMs = now + choices_.remountAfterDismountMs;
    return now >= entry.remountsUntilMs;
}

// Since Vista a raw write into the sectors of a mounted volume fails unless
// the volume is locked or dismounted.
bool SimPlatform::writeBlockedByVolume(int number, uint64_t lba, uint64_t end) const {
    for (const sim::VolumeEntry* entry : volumes_.onDrive(number)) {
        if (!entry->volume.mounted || volumeLockedById(entry->id)) continue;
        uint64_t start = 0, sectors = 0;
        volumeExtent(*entry, start, sectors);
        if (lba < start + sectors && start < end) return true;
    }
    return false;
}

// The OS reads the partition table when the drive is given back; when it
// changed, the drive's volumes go and the new partitions come.
void SimPlatform::driveReleased(const Open& open) {
    const SimDrive& drive = drives_.at(open.drive);
    if (!open.writable || (!hasArrival_ && !drive.afterRepartition)) return;
    const sim::TableBytes now = sim::partitionTableBytes(drive.imagePath);
    if (now == open.tableAtOpen) return;
    SimArrival arrival = drive.afterRepartition ? *drive.afterRepartition : arrival_;
    if (!choices_.newVolumesGetLetters) arrival.letters.clear();
    volumes_.repartitioned(open.drive, sim::partitionsOf(now), arrival, GetTickCount64());
}

}  // namespace platform
