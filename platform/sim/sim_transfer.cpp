// Sector transfers on a simulated drive, with the injected faults and the
// faults of a failing or counterfeit card.
#include "platform/sim_platform.h"

#include "platform/control_access.h"
#include "platform/sim/sim_fat_store.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_open.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

uint32_t SimPlatform::SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                     uint32_t moveMethod) {
    Open* open = find(handle);
    const uint64_t high = distanceHigh != nullptr ? uint32_t(*distanceHigh) : 0;
    const uint64_t offset = high << 32 | uint32_t(distanceLow);
    SimCall call;
    call.name = "SetFilePointer";
    call.handle = handle;
    call.offset = offset;
    record(call);
    if (open == nullptr || open->file == nullptr || moveMethod != FILE_BEGIN) {
        lastError_ = open == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    open->position = offset;
    lastError_ = ERROR_SUCCESS;
    return uint32_t(offset);
}

// A drive without its medium answers nothing; a handle of a medium since taken
// out keeps failing when another is put in. A volume's files are on its
// drive's medium.
uint32_t SimPlatform::mediumGone(const Open& open) {
    int number = open.drive;
    if (number < 0) {
        const sim::VolumeEntry* entry = volumes_.byId(open.volumeId);
        number = entry != nullptr ? entry->volume.driveNumber : -1;
    }
    const auto found = drives_.find(number);
    if (found == drives_.end()) return ERROR_SUCCESS;
    if (!found->second.media) return ERROR_NOT_READY;
    if (open.drive >= 0 && open.mediaChangesAtOpen != found->second.mediaChangeCount)
        return ERROR_MEDIA_CHANGED;
    return ERROR_SUCCESS;
}

bool SimPlatform::transfer(Handle handle, void* read, const void* write, uint32_t bytes,
                           uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    Open* open = find(handle);
    SimCall call;
    call.name = read != nullptr ? "ReadFile" : "WriteFile";
    call.handle = handle;
    call.offset = open != nullptr ? open->position : 0;
    call.bytes = bytes;
    record(call);
    if (open == nullptr) return fail(ERROR_INVALID_HANDLE);
    // As on Windows, a handle moves only what it was opened for.
    if (write != nullptr ? !open->writable : !open->readable) return fail(ERROR_ACCESS_DENIED);
    if (open->file == nullptr) return fail(ERROR_INVALID_HANDLE);

    const SimDrive& drive = drives_.at(open->drive);
    // Every request to the device takes the reader's time, answered or not.
    passTime(drive.writeDelayMs);
    catchUp();
    if (const uint32_t gone = mediumGone(*open); gone != ERROR_SUCCESS) return fail(gone);
    const uint64_t lba = open->position / 512;
    uint64_t& count = read != nullptr ? reads_ : writes_;
    const int64_t limit = read != nullptr ? faults_.failReadsAfter : faults_.failWritesAfter;
    const auto& failAt = read != nullptr ? faults_.failReadAtLba : faults_.failWriteAtLba;
    const auto& shortAt = read != nullptr ? faults_.shortReadAtLba : faults_.shortWriteAtLba;
    // Unbuffered handles move whole sectors at sector offsets only.
    if (bytes % drive.bytesPerSector != 0 || open->position % drive.bytesPerSector != 0)
        return fail(ERROR_INVALID_PARAMETER);
    const uint64_t end = lba + bytes / drive.bytesPerSector;
    if (write != nullptr && drive.writeProtected) return fail(ERROR_WRITE_PROTECT);
    if (write != nullptr && writeBlockedByVolume(open->drive, lba, end)) return fail(ERROR_ACCESS_DENIED);
    // A fault at a sector hits every request that covers it. A short
    // transfer stops half way into the first such sector.
    const auto firstCovered = [lba, end](const std::set<uint64_t>& sectors) {
        auto it = sectors.lower_bound(lba);
        return it != sectors.end() && *it < end ? it : sectors.end();
    };
    if ((limit >= 0 && int64_t(count) >= limit) || firstCovered(failAt) != failAt.end()) {
        ++count;
        return fail(read != nullptr ? ERROR_READ_FAULT : ERROR_WRITE_FAULT);
    }
    ++count;
    uint32_t amount = bytes;
    if (auto it = firstCovered(shortAt); it != shortAt.end())
        amount = static_cast<uint32_t>((*it - lba) * drive.bytesPerSector + drive.bytesPerSector / 2);
    const uint64_t size = sim::fileSize(drive.imagePath);
    if (open->position >= size) amount = 0;
    else if (open->position + amount > size) amount = static_cast<uint32_t>(size - open->position);

    size_t moved = 0;
    if (amount > 0) {
        if (faults_.wrapSectors == 0 && faults_.garbleWriteAtLba.empty() &&
            drive.dropsWritesSectors == 0) {
            if (!sim::seekTo(open->file, open->position)) return fail(ERROR_SEEK);
            moved = read != nullptr ? std::fread(read, 1, amount, open->file)
                                    : std::fwrite(write, 1, amount, open->file);
        } else {
            moved = moveBytes(drive, open->file, open->position, read, write, amount);
        }
        // A full file system under the image fails the write as a full disk
        // does on Windows; other failures as a bad sector.
        const bool flushed = read != nullptr || std::fflush(open->file) == 0;
        if (std::ferror(open->file) || !flushed || moved != amount) {
            const int cause = errno;
            std::clearerr(open->file);
            if (read != nullptr) return fail(ERROR_READ_FAULT);
            imageWriteError_ = cause == ENOSPC  ? ERROR_DISK_FULL
                               : cause == EFBIG ? ERROR_FILE_TOO_LARGE
                                                : ERROR_WRITE_FAULT;
            return fail(imageWriteError_);
        }
    }
    open->position += moved;
    if (transferred != nullptr) *transferred = static_cast<uint32_t>(moved);
    lastError_ = ERROR_SUCCESS;
    return true;
}

size_t SimPlatform::moveBytes(const SimDrive& drive, std::FILE* file, uint64_t position,
                              void* read, const void* write, size_t amount) {
    constexpr uint64_t SECTOR = 512;
    size_t moved = 0;
    while (moved < amount) {
        const uint64_t at = position + moved;
        uint64_t lba = at / SECTOR;
        const bool garbled = write != nullptr && faults_.garbleWriteAtLba.count(lba) != 0;
        const bool dropped = write != nullptr && lba >= drive.dropsWritesFrom &&
                             lba - drive.dropsWritesFrom < drive.dropsWritesSectors;
        if (faults_.wrapSectors > 0) lba %= faults_.wrapSectors;
        const size_t part = static_cast<size_t>(std::min<uint64_t>(amount - moved, SECTOR - at % SECTOR));
        if (!sim::seekTo(file, lba * SECTOR + at % SECTOR)) return moved;
        size_t done = 0;
        if (dropped) {
            done = part;
        } else if (read != nullptr) {
            done = std::fread(static_cast<uint8_t*>(read) + moved, 1, part, file);
        } else {
            uint8_t bytes[SECTOR];
            std::memcpy(bytes, static_cast<const uint8_t*>(write) + moved, part);
            if (garbled)
                for (size_t i = 0; i < part; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
            done = std::fwrite(bytes, 1, part, file);
        }
        moved += done;
        if (done != part) break;
    }
    return moved;
}

bool SimPlatform::storeVolumeFiles(uint64_t volumeId) {
    const sim::VolumeEntry* entry = volumes_.byId(volumeId);
    if (entry == nullptr || entry->volume.directory.empty()) return true;
    const auto found = drives_.find(entry->volume.driveNumber);
    if (found == drives_.end() || found->second.imagePath.empty()) return true;
    const SimDrive& drive = found->second;
    uint64_t start = 0, sectors = 0;
    volumeExtent(*entry, start, sectors);
    std::FILE* file = std::fopen(drive.imagePath.c_str(), "r+b");
    if (file == nullptr) return false;
    constexpr uint64_t SECTOR = 512;
    const uint64_t size = sim::fileSize(drive.imagePath);
    // The OS writes through the card's own faults, but requests of its own
    // are not the logic's: they are neither counted nor refused.
    sim::SectorAccess access;
    access.read = [&](uint64_t lba, uint32_t count, uint8_t* bytes) {
        const size_t amount = size_t(count) * SECTOR;
        return (lba + count) * SECTOR <= size &&
               moveBytes(drive, file, lba * SECTOR, bytes, nullptr, amount) == amount;
    };
    access.write = [&](uint64_t lba, uint32_t count, const uint8_t* bytes) {
        const size_t amount = size_t(count) * SECTOR;
        return (lba + count) * SECTOR <= size && !drive.writeProtected &&
               moveBytes(drive, file, lba * SECTOR, nullptr, bytes, amount) == amount;
    };
    const bool stored = sim::storeFolderInFat(entry->volume.directory, start, sectors, access);
    return std::fclose(file) == 0 && stored;
}

bool SimPlatform::ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) {
    return transfer(handle, buffer, nullptr, bytes, transferred);
}

bool SimPlatform::WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* transferred) {
    return transfer(handle, nullptr, buffer, bytes, transferred);
}

bool SimPlatform::FlushFileBuffers(Handle handle) {
    SimCall call;
    call.name = "FlushFileBuffers";
    call.handle = handle;
    record(call);
    Open* open = find(handle);
    if (open == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (const uint32_t refusal = flushAccessRefusal(open->access()); refusal != ERROR_SUCCESS)
        return fail(refusal);
    if (open->drive >= 0 ? faults_.failDriveFlush : faults_.refuseVolumeFlush.count(open->letter) != 0)
        return fail(ERROR_WRITE_FAULT);
    // What is held for a card taken out cannot reach it.
    catchUp();
    if (const uint32_t gone = mediumGone(*open); gone != ERROR_SUCCESS) return fail(gone);
    // A drive's image must have taken every byte; a volume's files are
    // written straight through.
    if (open->file != nullptr && std::fflush(open->file) != 0) return fail(ERROR_WRITE_FAULT);
    if (open->drive < 0 && !storeVolumeFiles(open->volumeId)) return fail(ERROR_WRITE_FAULT);
    ++flushes_;
    lastError_ = ERROR_SUCCESS;
    return true;
}

}  // namespace platform
