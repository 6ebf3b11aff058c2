#include "bootloader/boot_sectors.h"

#include "bootloader/grub_images.h"
#include "disk/raw_disk.h"
#include "disk/sector_io.h"
#include "util/debug.h"

#include <cstring>

BootImages grubBootImages() {
    return BootImages{grubStage1Image, grubStage15Image, grubStage15Bytes / SECTOR_BYTES};
}

void mergeStage1(uint8_t* mbr, const uint8_t* stage1) {
    std::memcpy(mbr, stage1, GRUB_STAGE1_BYTES);
}

namespace {

// The OS error behind a fault; a short transfer has none.
uint32_t errorOf(const SectorFault& fault) {
    return fault.kind == SectorFault::SHORT ? 0 : fault.detail;
}

}  // namespace

bool writeStage1(platform::Handle handle, const uint8_t* stage1) {
    uint8_t mbr[SECTOR_BYTES];
    if (SectorFault fault = readSectors(handle, 0, 1, mbr)) {
        debugPrint("Failed to read MBR: %u\n", errorOf(fault));
        return false;
    }
    mergeStage1(mbr, stage1);
    if (SectorFault fault = writeSectors(handle, 0, 1, mbr)) {
        debugPrint("Failed to write MBR: %u\n", errorOf(fault));
        return false;
    }
    if (SectorFault fault = verifySectors(handle, 0, 1, mbr)) {
        printSectorFault(fault, true);
        return false;
    }
    return true;
}

bool writeStage15(platform::Handle handle, const BootImages& images, const RequestDone& done) {
    if (SectorFault fault = writeSectors(handle, STAGE15_FIRST_LBA, images.stage15Sectors,
                                         images.stage15, done)) {
        debugPrint("Failed to write bootloader sector %u: %u\n", fault.lba, errorOf(fault));
        return false;
    }
    if (SectorFault fault = verifySectors(handle, STAGE15_FIRST_LBA, images.stage15Sectors,
                                          images.stage15)) {
        printSectorFault(fault, true);
        return false;
    }
    return true;
}
