// Control codes on a simulated physical drive.
#include "platform/sim_platform.h"

#include "platform/little_endian.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_open.h"

#include <cstring>

namespace platform {

bool SimPlatform::driveIoctl(Open& open, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* bytesReturned) {
    const SimDrive& drive = drives_.at(open.drive);
    auto* bytes = static_cast<unsigned char*>(out);
    const uint64_t size = sim::fileSize(drive.imagePath);
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        if (faults_.refuseDriveLock) return fail(faults_.error);
        if (const uint32_t refusal = driveLockRefusal(open.drive); refusal != ERROR_SUCCESS)
            return fail(refusal);
        open.locked = true;
        break;
    case FSCTL_UNLOCK_VOLUME:
        if (!open.locked) return fail(ERROR_INVALID_PARAMETER);
        open.locked = false;
        break;
    case IOCTL_DISK_UPDATE_PROPERTIES:
        break;
    case IOCTL_DISK_IS_WRITABLE:
        if (!drive.media) return fail(ERROR_NOT_READY);
        if (drive.writeProtected) return fail(ERROR_WRITE_PROTECT);
        break;
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
        if (faults_.refuseGeometry) return fail(faults_.error);
        if (!drive.media) return fail(ERROR_NOT_READY);
        if (outSize < GEOMETRY_EX_MIN_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, outSize);
        const uint64_t perCylinder = uint64_t(drive.heads) * drive.sectorsPerTrack * drive.bytesPerSector;
        storeLe64(bytes + GEOMETRY_EX_CYLINDERS, perCylinder == 0 ? 0 : size / perCylinder);
        storeLe32(bytes + GEOMETRY_EX_MEDIA_TYPE, drive.removable ? MEDIA_TYPE_REMOVABLE : MEDIA_TYPE_FIXED);
        storeLe32(bytes + GEOMETRY_EX_TRACKS_PER_CYLINDER, drive.heads);
        storeLe32(bytes + GEOMETRY_EX_SECTORS_PER_TRACK, drive.sectorsPerTrack);
        storeLe32(bytes + GEOMETRY_EX_BYTES_PER_SECTOR, drive.bytesPerSector);
        storeLe64(bytes + GEOMETRY_EX_DISK_SIZE, size);
        if (bytesReturned != nullptr) *bytesReturned = outSize < 40 ? outSize : 40;
        break;
    }
    case IOCTL_STORAGE_GET_HOTPLUG_INFO:
        if (outSize < HOTPLUG_INFO_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, HOTPLUG_INFO_SIZE);
        storeLe32(bytes, HOTPLUG_INFO_SIZE);
        bytes[HOTPLUG_MEDIA_REMOVABLE] = drive.removable ? 1 : 0;
        bytes[HOTPLUG_MEDIA_REMOVABLE + 1] = drive.removable ? 1 : 0;
        if (bytesReturned != nullptr) *bytesReturned = HOTPLUG_INFO_SIZE;
        break;
    case IOCTL_STORAGE_CHECK_VERIFY:
        if (!drive.media) return fail(ERROR_NOT_READY);
        break;
    case IOCTL_STORAGE_CHECK_VERIFY2:
        if (!drive.media) return fail(ERROR_NOT_READY);
        if (outSize == 0) break;
        if (out == nullptr || outSize < MEDIA_CHANGE_COUNT_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        storeLe32(bytes, drive.mediaChangeCount);
        if (bytesReturned != nullptr) *bytesReturned = MEDIA_CHANGE_COUNT_SIZE;
        break;
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        if (in == nullptr || inSize < PROPERTY_QUERY_SIZE) return fail(ERROR_INVALID_PARAMETER);
        const size_t need = DESCRIPTOR_HEADER_SIZE + drive.vendor.size() + 1 + drive.product.size() + 1;
        if (outSize < DESCRIPTOR_HEADER_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, DESCRIPTOR_HEADER_SIZE);
        storeLe32(bytes, 1);
        storeLe32(bytes + 4, static_cast<uint32_t>(need));
        bytes[10] = drive.removable ? 1 : 0;
        uint32_t at = DESCRIPTOR_HEADER_SIZE;
        auto place = [&](const std::string& text, bool report, uint32_t override, uint32_t field) {
            uint32_t offset = 0;
            if (report && at + text.size() + 1 <= outSize) {
                std::memcpy(bytes + at, text.c_str(), text.size() + 1);
                offset = at;
                at += static_cast<uint32_t>(text.size() + 1);
            }
            storeLe32(bytes + field, override != 0 ? override : offset);
        };
        place(drive.vendor, drive.reportVendor, drive.vendorOffsetOverride, DESCRIPTOR_VENDOR_OFFSET);
        place(drive.product, drive.reportProduct, drive.productOffsetOverride, DESCRIPTOR_PRODUCT_OFFSET);
        if (bytesReturned != nullptr) *bytesReturned = at;
        break;
    }
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
    lastError_ = ERROR_SUCCESS;
    return true;
}

}  // namespace platform
