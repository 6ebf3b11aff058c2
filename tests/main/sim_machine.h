#pragma once
// A simulated machine with card readers, installed as the OS for a test.

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <string>

class SimMachine {
public:
    SimMachine() : scope_(sim) {}

    // A removable drive with media, 512-byte sectors, `bytes` large.
    platform::SimDrive& addCard(int number, uint64_t bytes, const std::string& vendor = "Kestrel",
                                const std::string& product = "CF Reader") {
        platform::SimDrive drive;
        drive.imagePath = dir_.file("drive" + std::to_string(number) + ".img");
        makeSparseFile(drive.imagePath, bytes);
        drive.vendor = vendor;
        drive.product = product;
        sim.addDrive(number, drive);
        return sim.drive(number);
    }

    platform::SimPlatform sim;

private:
    TempDir dir_;
    platform::ScopedPlatform scope_;
};
