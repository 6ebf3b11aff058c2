// The proof that a card rebuilt by our own code boots: partition table, both
// FAT volumes and the boot loader written through the simulated drive, the
// boot files copied on, and the card booted in the PC emulator up to the test
// firmware.

#include "bootloader/boot_sectors.h"
#include "bootloader/grub_images.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/format_partition.h"
#include "install/bootloader_stage.h"
#include "install/stage_report.h"
#include "platform/sim_platform.h"
#include "support/temp_dir.h"
#include "system/emulator_boot.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <vector>

namespace {

// A 489 MiB card of 16 heads and 63 sectors per track.
constexpr uint32_t CARD_SECTORS = 1000944;
constexpr uint32_t CARD_HEADS = 16;
constexpr uint32_t CARD_SECTORS_PER_TRACK = 63;


uint32_t le32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | uint8_t(bytes[offset + i]);
    return value;
}

class EmulatorBoot : public ::testing::Test {
protected:
    // Rebuilds the card as the installation does (partition table, two
    // formats, boot loader) and puts the boot files on its first partition.
    void buildCard(const BootImages& images) {
        image = dir.file("card.img");
        ASSERT_TRUE(makeSparseFile(image, uint64_t(CARD_SECTORS) * SECTOR_BYTES));
        {
            platform::SimPlatform sim;
            platform::ScopedPlatform scoped(sim);
            platform::SimDrive drive;
            drive.imagePath = image;
            drive.heads = CARD_HEADS;
            drive.sectorsPerTrack = CARD_SECTORS_PER_TRACK;
            sim.addDrive(1, drive);

            platform::Handle handle = platform::INVALID_HANDLE_VALUE;
            uint32_t sectors = 0, heads = 0, perTrack = 0;
            ASSERT_TRUE(openPhysicalDrive("\\\\.\\PhysicalDrive1", handle, sectors, heads, perTrack));
            const int32_t sizes[] = {sizeInKiB(256000), 100, 0};
            ASSERT_TRUE(writePartitionTable(handle, sectors, heads, perTrack, sizes));
            ASSERT_TRUE(formatPartition(handle, sectors, heads, perTrack, 0, 0, 0, "t6sc_boot", nullptr));
            ASSERT_TRUE(formatPartition(handle, sectors, heads, perTrack, 1, 0, 0, "t6sc_data", nullptr));
            QuietStageReport report;
            installBootloader(report, handle, 34, 66, images);
            ASSERT_FALSE(report.failed());
            releaseDisk(handle);
        }
        std::string mbr(SECTOR_BYTES, '\0');
        std::ifstream(image, std::ios::binary).read(&mbr[0], SECTOR_BYTES);
        bootStart = le32(mbr, 446 + 8);
        std::string log;
        ASSERT_TRUE(putBootFiles(image, bootStart, &log)) << log;
    }

    static void describe(const EmulatorRun& run) {
        std::cout << "emulator: status " << run.status << " after " << run.seconds << " s\n"
                  << "---- serial console ----\n" << run.console << "\n------------------------\n";
    }

    TempDir dir;
    std::string image;
    uint32_t bootStart = 0;
};

}  // namespace

TEST_F(EmulatorBoot, RebuiltCardBootsTheFirmware) {
    ASSERT_NO_FATAL_FAILURE(buildCard(grubBootImages()));
    const EmulatorRun run = bootInEmulator(image, 60);
    describe(run);
    EXPECT_TRUE(run.reachedMarker()) << "the firmware did not run within 60 s";
    EXPECT_EQ(TEST_FIRMWARE_EXIT_STATUS, run.status);
    RecordProperty("boot_seconds", std::to_string(run.seconds));
}

// Stage 1.5 whose block list stops one sector early: the last sector of its
// body never reaches memory, and the chain must not get to the firmware.
TEST_F(EmulatorBoot, BlockListOneSectorShortDoesNotBoot) {
    const BootImages full = grubBootImages();
    std::vector<uint8_t> stage15(full.stage15, full.stage15 + full.stage15Sectors * SECTOR_BYTES);
    const uint16_t shortLength = uint16_t(full.stage15Sectors - 2);
    stage15[0x1FC] = uint8_t(shortLength & 0xFF);
    stage15[0x1FD] = uint8_t(shortLength >> 8);
    ASSERT_NO_FATAL_FAILURE(buildCard(BootImages{full.stage1, stage15.data(), full.stage15Sectors}));

    const EmulatorRun run = bootInEmulator(image, 15);
    describe(run);
    EXPECT_FALSE(run.reachedMarker());
    EXPECT_NE(TEST_FIRMWARE_EXIT_STATUS, run.status);
}
