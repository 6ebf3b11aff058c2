#pragma once
// The simulated machine of the tests: installed as the OS for the fixture's
// lifetime, with cards whose bytes are sparse image files in a temporary
// folder, and direct access to those bytes for setting up and checking.

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using SectorBytes = std::vector<uint8_t>;

class SimMachine {
public:
    SimMachine() : scope_(sim) {}
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // A removable drive with media and 512-byte sectors, `bytes` large, at
    // 255 heads and 63 sectors per track (change them on the drive returned).
    // Its image is "drive<number>.img"; imageMade() tells whether the file
    // system allowed a sparse file that large.
    platform::SimDrive& addCard(int number, uint64_t bytes, const std::string& vendor = "Kestrel",
                                const std::string& product = "CF Reader") {
        platform::SimDrive drive;
        drive.imagePath = dir.file("drive" + std::to_string(number) + ".img");
        made_ = makeSparseFile(drive.imagePath, bytes);
        drive.vendor = vendor;
        drive.product = product;
        sim.addDrive(number, drive);
        images_[number] = drive.imagePath;
        return sim.drive(number);
    }
    bool imageMade() const { return made_; }
    const std::string& image(int number) const { return images_.at(number); }

    // One sector of a card's image, read or written past the backend.
    SectorBytes sector(int number, uint64_t lba) const;
    void putSector(int number, uint64_t lba, const SectorBytes& bytes);

    TempDir dir;
    platform::SimPlatform sim;

private:
    platform::ScopedPlatform scope_;
    std::map<int, std::string> images_;
    bool made_ = false;
};

// The common case: one card as drive 1.
struct SimCard : SimMachine {
    explicit SimCard(uint64_t bytes, uint32_t heads = 255, uint32_t sectorsPerTrack = 63) {
        platform::SimDrive& drive = addCard(1, bytes, "Generic ", "CF Card");
        drive.heads = heads;
        drive.sectorsPerTrack = sectorsPerTrack;
        image = drive.imagePath;
        made = imageMade();
    }
    std::string image;
    bool made = false;  // false where the file system refuses a file this large
};
