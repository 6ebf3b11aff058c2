// Control codes on a simulated volume.
#include "platform/sim_platform.h"

#include "platform/little_endian.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_open.h"

#include <cstring>

namespace platform {

void SimPlatform::volumeExtent(const sim::VolumeEntry& entry, uint64_t& start,
                               uint64_t& sectors) const {
    const SimVolume& volume = entry.volume;
    if (volume.sectors > 0) {
        start = volume.startSector;
        sectors = volume.sectors;
        return;
    }
    // Follows the drive's first partition, whatever the table says now; no
    // sectors where there is none (or no drive to read it from).
    start = sectors = 0;
    auto drive = drives_.find(volume.driveNumber);
    if (drive == drives_.end()) return;
    const auto partitions = sim::partitionsOf(sim::partitionTableBytes(drive->second.imagePath));
    if (!partitions.empty()) {
        start = partitions.front().start;
        sectors = partitions.front().sectors;
    }
}

bool SimPlatform::volumeIoctl(Open& open, uint32_t code, void* out, uint32_t outSize,
                              uint32_t* bytesReturned) {
    sim::VolumeEntry* entry = volumes_.byId(open.volumeId);
    if (entry == nullptr) {
        // The volume went away (its drive got a new partition table); a lock
        // held on it goes with it.
        if (code != FSCTL_UNLOCK_VOLUME || !open.locked) return fail(ERROR_NOT_READY);
        if (choices_.unlockAfterVanishFails) return fail(ERROR_NOT_READY);
        open.locked = false;
        lastError_ = ERROR_SUCCESS;
        return true;
    }
    SimVolume& volume = entry->volume;
    auto* bytes = static_cast<unsigned char*>(out);
    switch (code) {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
        if (faults_.refuseExtents.count(open.letter) != 0) return fail(faults_.error);
        uint64_t start = 0, sectors = 0;
        if (volume.driveNumber < 0) return fail(ERROR_INVALID_FUNCTION);
        volumeExtent(*entry, start, sectors);
        if (outSize < DISK_EXTENTS_ONE_SIZE) return fail(ERROR_MORE_DATA);
        std::memset(bytes, 0, DISK_EXTENTS_ONE_SIZE);
        storeLe32(bytes + DISK_EXTENTS_COUNT, 1);
        storeLe32(bytes + DISK_EXTENTS_FIRST_DISK_NUMBER, static_cast<uint32_t>(volume.driveNumber));
        storeLe64(bytes + DISK_EXTENTS_FIRST_STARTING_OFFSET, start * 512);
        storeLe64(bytes + DISK_EXTENTS_FIRST_LENGTH, sectors * 512);
        if (bytesReturned != nullptr) *bytesReturned = DISK_EXTENTS_ONE_SIZE;
        break;
    }
    case FSCTL_LOCK_VOLUME:
        if (faults_.refuseVolumeLock.count(open.letter) != 0) return fail(faults_.error);
        if (const uint32_t refusal = volumeLockRefusal(open, *entry); refusal != ERROR_SUCCESS)
            return fail(refusal);
        open.locked = true;
        break;
    case FSCTL_DISMOUNT_VOLUME:
        if (faults_.refuseDismount.count(open.letter) != 0) return fail(faults_.error);
        // Refused while another handle holds the volume's lock.
        if (!open.locked && volumeLockedById(entry->id)) return fail(ERROR_ACCESS_DENIED);
        if (!open.locked && !dismountStays(*entry)) break;
        volume.mounted = false;
        // Every other handle on the volume's files is invalid from now on.
        volume.heldOpen = false;
        break;
    case FSCTL_UNLOCK_VOLUME:
        if (faults_.refuseUnlock.count(open.letter) != 0) return fail(faults_.error);
        if (!open.locked) return fail(ERROR_NOT_LOCKED);
        open.locked = false;
        break;
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
    lastError_ = ERROR_SUCCESS;
    return true;
}

}  // namespace platform
