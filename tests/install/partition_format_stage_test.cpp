#include "install/partition_format_stage.h"

#include "install/bootloader_stage.h"
#include "support/sim_machine.h"

#include "disk/raw_disk.h"
#include "platform/sim_platform.h"
#include "support/temp_dir.h"
#include "support/recording_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <cstring>
#include <string>
#include <vector>

namespace {

using History = std::vector<Shown>;

const History fullHistory = {{0, "Partitioning drive..."},
                             {11, "Formatting boot partition..."},
                             {22, "Formatting data partition..."},
                             {33, "Formatting complete"}};

class PartitionFormatTest : public ::testing::Test {
protected:
    static constexpr uint64_t CARD_BYTES = 600ull << 20;
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;
    RecordingReport report;
    platform::Handle disk = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors = 0, heads = 0, sectorsPerTrack = 0;

    void SetUp() override {
        platform::SimDrive drive;
        drive.imagePath = temp.file("card.img");
        ASSERT_TRUE(makeSparseFile(drive.imagePath, CARD_BYTES));
        sim.addDrive(1, drive);
        ASSERT_TRUE(openPhysicalDrive("\\\\.\\PhysicalDrive1", disk, diskSectors, heads, sectorsPerTrack));
    }
    void TearDown() override { releaseDisk(disk); }

    void run(int first = 0, int last = 33) {
        partitionAndFormat(report, disk, diskSectors, heads, sectorsPerTrack, first, last);
    }
    // Makes every write fail from the moment the status shows `text`.
    void failWritesFrom(const std::string& text) {
        report.onChange = [this, text](const std::string& shown) {
            if (shown == text) sim.faults().failWritesAfter = static_cast<int64_t>(sim.writeCount());
        };
    }
    std::string sector(uint32_t lba) {
        std::string data(512, '\0');
        EXPECT_TRUE(readSector(disk, lba, &data[0]));
        return data;
    }
    static uint32_t le32(const std::string& data, size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(data[at + i]);
        return v;
    }
};

TEST_F(PartitionFormatTest, LaysOutAndLabelsBothPartitions) {
    run();
    EXPECT_FALSE(report.failed());
    EXPECT_EQ(report.history, fullHistory);
    EXPECT_TRUE(sim.debugLines().empty());

    const std::string mbr = sector(0);
    EXPECT_EQ(mbr.substr(510), "\x55\xAA");
    const uint32_t bootStart = le32(mbr, 446 + 8), bootSize = le32(mbr, 446 + 12);
    const uint32_t dataStart = le32(mbr, 462 + 8);
    // About 250 MiB before cylinder rounding, then the rest of the card.
    EXPECT_NEAR(static_cast<double>(bootSize), 512000.0, 255.0 * 63);
    EXPECT_GE(dataStart, bootStart + bootSize);
    EXPECT_NE(mbr[446 + 4], 0);
    EXPECT_NE(mbr[462 + 4], 0);
    EXPECT_NE(sector(bootStart).find("t6sc_boot"), std::string::npos);
    EXPECT_NE(sector(dataStart).find("t6sc_data"), std::string::npos);
}

TEST_F(PartitionFormatTest, ProgressSplitsAnySpanInThirds) {
    run(10, 20);
    EXPECT_EQ(report.history, (History{{10, "Partitioning drive..."},
                                       {13, "Formatting boot partition..."},
                                       {16, "Formatting data partition..."},
                                       {20, "Formatting complete"}}));
}

TEST_F(PartitionFormatTest, FailedPartitionTableFormatsNothing) {
    sim.faults().failWriteAtLba.insert(0);
    run();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history, History(fullHistory.begin(), fullHistory.begin() + 1));
    ASSERT_FALSE(sim.debugLines().empty());
    EXPECT_EQ(sim.debugLines().back(), "Failed partitioning disk\n");
    // The formatter starts by reading sector 0; it never got there.
    const auto& calls = sim.calls();
    size_t at = 0;
    while (at < calls.size() && !(calls[at].name == "WriteFile" && calls[at].offset == 0)) ++at;
    ASSERT_LT(at, calls.size());
    for (++at; at < calls.size(); ++at)
        EXPECT_FALSE(calls[at].name == "ReadFile" && calls[at].offset == 0);
}

TEST_F(PartitionFormatTest, FailedBootFormatSkipsTheDataPartition) {
    failWritesFrom("Formatting boot partition...");
    run();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history, History(fullHistory.begin(), fullHistory.begin() + 2));
    ASSERT_FALSE(sim.debugLines().empty());
    EXPECT_EQ(sim.debugLines().back(), "Failed formatting disk 0\n");
}

TEST_F(PartitionFormatTest, FailedDataFormat) {
    failWritesFrom("Formatting data partition...");
    run();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history, History(fullHistory.begin(), fullHistory.begin() + 3));
    ASSERT_FALSE(sim.debugLines().empty());
    EXPECT_EQ(sim.debugLines().back(), "Failed formatting disk 1\n");
}

TEST_F(PartitionFormatTest, UnreadablePartitionTableFailsTheBootFormat) {
    report.onChange = [this](const std::string& shown) {
        if (shown == "Formatting boot partition...") sim.faults().failReadAtLba.insert(0);
    };
    run();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history, History(fullHistory.begin(), fullHistory.begin() + 2));
    ASSERT_FALSE(sim.debugLines().empty());
    EXPECT_EQ(sim.debugLines().back(), "Failed formatting disk 0\n");
}

}  // namespace

namespace {

// FNV-1a over the image in 64-bit words, with the disk signature (random by
// design) left out.
uint64_t imageHash(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint64_t> chunk(1 << 17);
    uint64_t hash = 1469598103934665603ull;
    for (bool first = true; in; first = false) {
        in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(chunk.size() * 8));
        const size_t words = static_cast<size_t>(in.gcount()) / 8;
        if (first && words > 64) std::memset(reinterpret_cast<char*>(chunk.data()) + 440, 0, 4);
        for (size_t i = 0; i < words; ++i) hash = (hash ^ chunk[i]) * 1099511628211ull;
    }
    return hash;
}

// Every 997th sector carries old contents, so a region left unwritten, or a
// data sector overwritten, changes the image.
void stampOldContents(const std::string& path, uint64_t bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    char old[512];
    for (uint64_t lba = 1; lba * 512 < bytes; lba += 997) {
        std::memset(old, static_cast<int>(0x40 + lba % 61), sizeof old);
        out.seekp(std::streamoff(lba * 512));
        out.write(old, sizeof old);
    }
    ASSERT_TRUE(out.good());
}

// The card as the first two disk stages leave it, byte for byte, for cards
// that take each FAT type and a long first track.
TEST(DiskStages, LeaveTheSameBytesOnTheCard) {
    struct Case {
        uint64_t bytes;
        uint32_t heads, sectorsPerTrack;
        uint64_t hash;
    };
    const Case cases[] = {
        {300ull << 20, 16, 63, 0x69c288eb207ea63dull},
        {600ull << 20, 255, 63, 0xb0b01e438d5d6872ull},
        {600ull << 20, 64, 300, 0x8e7431aed9b5f75bull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes >> 20) + " MiB");
        SimCard card(c.bytes, c.heads, c.sectorsPerTrack);
        ASSERT_TRUE(card.made);
        stampOldContents(card.image, c.bytes);
        platform::Handle disk = platform::INVALID_HANDLE_VALUE;
        uint32_t sectors = 0, heads = 0, perTrack = 0;
        ASSERT_TRUE(openPhysicalDrive("\\\\.\\PhysicalDrive1", disk, sectors, heads, perTrack));
        RecordingReport report;
        partitionAndFormat(report, disk, sectors, heads, perTrack, 0, 33);
        installBootloader(report, disk, 34, 66);
        releaseDisk(disk);
        EXPECT_FALSE(report.failed());
        EXPECT_EQ(imageHash(card.image), c.hash) << std::hex << imageHash(card.image);
    }
}

}  // namespace
