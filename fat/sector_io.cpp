#include "fat/sector_io.h"

#include "disk/raw_disk.h"
#include "util/debug.h"

namespace {

bool positionAt(platform::Handle handle, uint32_t lba)
{
    const uint64_t offset = uint64_t(lba) * SECTOR_BYTES;
    const uint32_t low = static_cast<uint32_t>(offset);
    int32_t high = static_cast<int32_t>(offset >> 32);
    const int32_t expectedHigh = high;
    const uint32_t result = platform::os().SetFilePointer(handle, static_cast<int32_t>(low),
                                                          &high, platform::FILE_BEGIN);
    // Sector offsets are multiples of 512, so a true position never reads as
    // INVALID_SET_FILE_POINTER: anything but the asked offset is a failure.
    if (result == low && high == expectedHigh)
        return true;
    debugPrint("Unable to position at sector %u: %u\n", lba, platform::os().GetLastError());
    return false;
}

}  // namespace

bool readCheckedSector(platform::Handle handle, uint32_t lba, void* buffer)
{
    if (!positionAt(handle, lba))
        return false;
    uint32_t transferred = 0;
    if (!platform::os().ReadFile(handle, buffer, SECTOR_BYTES, &transferred)) {
        debugPrint("Unable to read sector %u: %u\n", lba, platform::os().GetLastError());
        return false;
    }
    if (transferred != SECTOR_BYTES) {
        debugPrint("Short read of sector %u: %u bytes\n", lba, transferred);
        return false;
    }
    return true;
}

bool writeCheckedSector(platform::Handle handle, uint32_t lba, const void* buffer)
{
    if (!positionAt(handle, lba))
        return false;
    uint32_t transferred = 0;
    if (!platform::os().WriteFile(handle, buffer, SECTOR_BYTES, &transferred)) {
        debugPrint("Unable to write sector %u: %u\n", lba, platform::os().GetLastError());
        return false;
    }
    if (transferred != SECTOR_BYTES) {
        debugPrint("Short write of sector %u: %u bytes\n", lba, transferred);
        return false;
    }
    return true;
}
