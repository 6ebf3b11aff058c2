#pragma once
// A simulated machine with one card as physical drive 1.

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <string>

struct SimCard {
    explicit SimCard(uint64_t bytes, uint32_t heads = 255, uint32_t sectorsPerTrack = 63) {
        image = dir.file("card.img");
        made = makeSparseFile(image, bytes);
        platform::SimDrive drive;
        drive.imagePath = image;
        drive.heads = heads;
        drive.sectorsPerTrack = sectorsPerTrack;
        drive.vendor = "Generic ";
        drive.product = "CF Card";
        sim.addDrive(1, drive);
    }
    TempDir dir;
    std::string image;
    bool made = false;  // false where the file system refuses a file this large
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
};
