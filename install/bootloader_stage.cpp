#include "install/bootloader_stage.h"

#include <algorithm>

void installBootloader(StageReport& report, platform::Handle handle, int first, int last) {
    installBootloader(report, handle, first, last, grubBootImages());
}

void installBootloader(StageReport& report, platform::Handle handle, int first, int last,
                       const BootImages& images) {
    const int span = last - first;
    report.show(first, "Writing bootloader...");
    report.showValue(first + span / 6);

    // Read, write and read back: several requests to a card reader, while
    // the display keeps repainting.
    const uint8_t* stage1 = images.stage1;
    if (!report.waitFor([handle, stage1] { return writeStage1(handle, stage1); })) {
        report.setFailed();
        return;
    }

    const int step = (4 * span) / 90;
    int position = first + (2 * span) / 6;
    report.showValue(position);
    // One step per sector, each shown right after the request that wrote it.
    const auto stepPerSector = [&](uint32_t sectors) {
        for (uint32_t i = 0; i < sectors; ++i) {
            // An image longer than fifteen sectors would step past the span's end.
            position = std::min(position + step, last);
            report.showValue(position);
        }
    };
    if (!writeStage15(handle, images, stepPerSector)) {
        report.setFailed();
        return;
    }
    report.showText("Finished writing bootloader");
}
