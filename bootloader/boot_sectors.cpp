#include "bootloader/boot_sectors.h"

#include "bootloader/grub_images.h"
#include "disk/raw_disk.h"
#include "util/debug.h"

#include <cstring>

BootImages grubBootImages() {
    return BootImages{grubStage1Image, grubStage15Image, grubStage15Bytes / SECTOR_BYTES};
}

void mergeStage1(uint8_t* mbr, const uint8_t* stage1) {
    std::memcpy(mbr, stage1, GRUB_STAGE1_BYTES);
}

bool writeStage1(platform::Handle handle, const uint8_t* stage1) {
    uint8_t mbr[SECTOR_BYTES];
    if (!readSector(handle, 0, mbr)) {
        debugPrint("Failed to read MBR: %u\n", platform::os().GetLastError());
        return false;
    }
    mergeStage1(mbr, stage1);
    if (!writeSector(handle, 0, mbr)) {
        debugPrint("Failed to write MBR: %u\n", platform::os().GetLastError());
        return false;
    }
    return true;
}

bool writeStage15Sector(platform::Handle handle, const BootImages& images, uint32_t index) {
    ASSERT(index < images.stage15Sectors);
    const uint32_t lba = STAGE15_FIRST_LBA + index;
    if (!writeSector(handle, lba, images.stage15 + index * SECTOR_BYTES)) {
        debugPrint("Failed to write bootloader sector %u: %u\n", lba,
                   platform::os().GetLastError());
        return false;
    }
    return true;
}
