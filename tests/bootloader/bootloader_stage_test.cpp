// The boot loader stage on a simulated card: what lands on which sector, what
// the progress shows, and what a failing drive leaves behind.

#include "bootloader/boot_sectors.h"
#include "bootloader/grub_images.h"
#include "disk/raw_disk.h"
#include "install/bootloader_stage.h"
#include "platform/sim_platform.h"
#include "support/recording_report.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr uint32_t CARD_SECTORS = 4096;
constexpr uint8_t UNTOUCHED = 0xE5;

std::vector<int> range(int first, int last) {
    std::vector<int> values(last - first + 1);
    std::iota(values.begin(), values.end(), first);
    return values;
}

// A card whose MBR carries a recognisable pattern and whose other sectors
// hold UNTOUCHED, so every byte the stage writes or keeps can be told apart.
class BootloaderStage : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.file("card.img");
        std::string bytes(CARD_SECTORS * SECTOR_BYTES, char(UNTOUCHED));
        for (uint32_t i = 0; i < SECTOR_BYTES; ++i) bytes[i] = char(i * 7 + 3);
        ASSERT_TRUE(writeWholeFile(image, bytes));
        platform::SimDrive drive;
        drive.imagePath = image;
        sim.addDrive(1, drive);
        uint32_t sectors = 0, heads = 0, perTrack = 0;
        ASSERT_TRUE(openPhysicalDrive("\\\\.\\PhysicalDrive1", handle, sectors, heads, perTrack));
        sim.clearCalls();
    }
    void TearDown() override { releaseDisk(handle); }

    std::string card() const { return readWholeFile(image); }
    static std::string sector(const std::string& card, uint32_t lba) {
        return card.substr(lba * SECTOR_BYTES, SECTOR_BYTES);
    }
    // LBAs of the writes, in the order they were made.
    std::vector<uint32_t> writtenLbas() const {
        std::vector<uint32_t> lbas;
        for (const platform::SimCall& call : sim.calls())
            if (call.name == "WriteFile") lbas.push_back(uint32_t(call.offset / SECTOR_BYTES));
        return lbas;
    }

    TempDir dir;
    std::string image;
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    RecordingReport report;
};

// A stage 1.5 of the fifteen sectors other GRUB builds produce, each sector
// filled with its own number so a misplaced sector shows.
struct FifteenSectorImages {
    FifteenSectorImages() {
        for (uint32_t i = 0; i < sizeof stage15; ++i) stage15[i] = uint8_t(0x40 + i / SECTOR_BYTES);
        for (uint32_t i = 0; i < sizeof stage1; ++i) stage1[i] = uint8_t(0xA0 ^ i);
    }
    BootImages images() const { return BootImages{stage1, stage15, 15}; }
    uint8_t stage1[GRUB_STAGE1_BYTES];
    uint8_t stage15[15 * SECTOR_BYTES];
};

}  // namespace

TEST_F(BootloaderStage, MergesStage1AndPutsStage15BehindTheMbr) {
    const std::string before = card();
    installBootloader(report, handle, 34, 66);
    EXPECT_FALSE(report.failed());

    const std::string after = card();
    const std::string mbr = sector(after, 0);
    EXPECT_EQ(0, std::memcmp(mbr.data(), grubStage1Image, GRUB_STAGE1_BYTES));
    EXPECT_EQ(sector(before, 0).substr(432), mbr.substr(432))
        << "disk signature, partition entries and 55 AA must survive";

    const uint32_t sectors = grubBootImages().stage15Sectors;
    EXPECT_EQ(17u, sectors) << "Debian's FAT stage 1.5 spans 17 sectors";
    for (uint32_t i = 0; i < sectors; ++i)
        EXPECT_EQ(0, std::memcmp(sector(after, 1 + i).data(), grubStage15Image + i * SECTOR_BYTES,
                                 SECTOR_BYTES))
            << "LBA " << 1 + i;
    const std::string lba1 = sector(after, 1);
    const uint8_t blockList[] = {0x02, 0x00, 0x00, 0x00, uint8_t(sectors - 1), 0x00, 0x20, 0x02};
    EXPECT_EQ(0, std::memcmp(lba1.data() + 504, blockList, sizeof blockList));
    EXPECT_EQ(before.substr((sectors + 1) * SECTOR_BYTES), after.substr((sectors + 1) * SECTOR_BYTES))
        << "nothing at or past LBA " << sectors + 1;

    // The MBR, then all of stage 1.5 in one request.
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), writtenLbas());
}

TEST_F(BootloaderStage, SecondRunLeavesTheSameCard) {
    installBootloader(report, handle, 34, 66);
    const std::string once = card();
    installBootloader(report, handle, 34, 66);
    EXPECT_TRUE(card() == once);
    EXPECT_FALSE(report.failed());
}

TEST_F(BootloaderStage, ProgressTakesOneStepPerImageSector) {
    installBootloader(report, handle, 34, 66);
    std::vector<int> expected{34, 39, 44};
    for (int value : range(45, 61)) expected.push_back(value);
    EXPECT_EQ(expected, report.values());
    EXPECT_EQ((std::vector<std::string>{"Writing bootloader...", "Finished writing bootloader"}),
              report.texts());
    EXPECT_EQ(RecordingReport::Event::Show, report.events.front().kind);
    EXPECT_EQ(RecordingReport::Event::Text, report.events.back().kind);
}

TEST_F(BootloaderStage, FifteenSectorImageGivesTheClassicLayoutAndProgress) {
    const FifteenSectorImages fifteen;
    const std::string before = card();
    installBootloader(report, handle, 34, 66, fifteen.images());

    std::vector<int> expected{34, 39, 44};
    for (int value : range(45, 59)) expected.push_back(value);
    EXPECT_EQ(expected, report.values());

    const std::string after = card();
    EXPECT_EQ(0, std::memcmp(after.data(), fifteen.stage1, GRUB_STAGE1_BYTES));
    for (uint32_t lba = 1; lba <= 15; ++lba)
        EXPECT_EQ(std::string(SECTOR_BYTES, char(0x40 + lba - 1)), sector(after, lba)) << lba;
    EXPECT_EQ(before.substr(16 * SECTOR_BYTES), after.substr(16 * SECTOR_BYTES));
}

TEST_F(BootloaderStage, ProgressValuesFollowTheSpan) {
    const FifteenSectorImages fifteen;
    installBootloader(report, handle, 50, 50, fifteen.images());
    EXPECT_EQ(std::vector<int>(18, 50), report.values());

    RecordingReport wide;
    installBootloader(wide, handle, 0, 100, fifteen.images());
    // 100/6 = 16, 200/6 = 33, steps of 400/90 = 4.
    std::vector<int> expected{0, 16, 33};
    for (int i = 1; i <= 15; ++i) expected.push_back(33 + 4 * i);
    EXPECT_EQ(expected, wide.values());

    // The longer image would step to 101 on the same span: it stops at the end.
    RecordingReport full;
    installBootloader(full, handle, 0, 100);
    const std::vector<int> values = full.values();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(100, values.back());
    EXPECT_EQ(97, values[values.size() - 2]);
}

TEST_F(BootloaderStage, UnreadableMbrWritesNothingAndFailsTheStage) {
    for (bool shortRead : {false, true}) {
        SCOPED_TRACE(shortRead ? "short read" : "failed read");
        sim.faults() = platform::SimFaults{};
        (shortRead ? sim.faults().shortReadAtLba : sim.faults().failReadAtLba).insert(0);
        sim.clearCalls();
        sim.clearDebugLines();
        const std::string before = card();
        RecordingReport failing;

        installBootloader(failing, handle, 34, 66);

        EXPECT_TRUE(failing.failed());
        EXPECT_TRUE(writtenLbas().empty());
        EXPECT_TRUE(card() == before);
        EXPECT_EQ((std::vector<std::string>{"Writing bootloader..."}), failing.texts());
        EXPECT_EQ((std::vector<int>{34, 39}), failing.values());
        ASSERT_EQ(1u, sim.debugLines().size());
        EXPECT_EQ(0u, sim.debugLines()[0].rfind("Failed to read MBR: ", 0)) << sim.debugLines()[0];
    }
}

TEST_F(BootloaderStage, FailedWriteStopsAndFailsTheStage) {
    for (uint32_t failing : {0u, 1u, 9u, 17u}) {
        SCOPED_TRACE("write of LBA " + std::to_string(failing) + " fails");
        sim.faults() = platform::SimFaults{};
        sim.faults().failWriteAtLba.insert(failing);
        sim.clearCalls();
        sim.clearDebugLines();
        RecordingReport stage;

        installBootloader(stage, handle, 34, 66);

        EXPECT_TRUE(stage.failed());
        // Stage 1.5 goes in one request, which fails whichever of its sectors is bad.
        const std::vector<uint32_t> attempted = failing == 0 ? std::vector<uint32_t>{0}
                                                             : std::vector<uint32_t>{0, 1};
        EXPECT_EQ(attempted, writtenLbas()) << "no write after the failing one";
        EXPECT_EQ((std::vector<std::string>{"Writing bootloader..."}), stage.texts());
        // 34, 39, then 44 once the MBR is in; no step for a stage 1.5 not written.
        EXPECT_EQ(failing == 0 ? 2u : 3u, stage.values().size());
        ASSERT_EQ(1u, sim.debugLines().size());
        const std::string expected = failing == 0 ? "Failed to write MBR: "
                                                  : "Failed to write bootloader sector 1: ";
        EXPECT_EQ(0u, sim.debugLines()[0].rfind(expected, 0)) << sim.debugLines()[0];
    }
}
