#include "deploy/boot_volume.h"

#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>

#include <string>

namespace {

using platform::SimVolume;

class BootVolumeTest : public ::testing::Test {
protected:
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;

    // Where the boot partition lies.
    static constexpr PartitionPlace BOOT{63, 512000};

    void volume(char letter, int driveNumber, uint64_t start = BOOT.firstSector,
                uint64_t sectors = BOOT.sectors) {
        SimVolume v;
        v.directory = temp.file(std::string(1, letter));
        v.driveNumber = driveNumber;
        v.startSector = start;
        v.sectors = sectors;
        sim.addVolume(letter, v);
    }
};

// On the drive, and starting and ending where the boot partition does; the
// data partition, or a volume of the card's old table, does not fit.
TEST_F(BootVolumeTest, VolumeWhereTheBootPartitionLiesIsChosenAndLeftOpen) {
    volume('C', 0);
    volume('D', 2, 512063, 1000000);  // the data partition
    volume('E', 2, 63, 511000);        // shorter
    volume('F', 2, 64);                // starts elsewhere
    volume('G', 2);
    volume('H', 2);
    BootVolume found;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(findBootVolume(2, BOOT, found));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(found.letter, 'G');
    EXPECT_EQ(sim.openHandleCount(), 1);

    // H was never looked at: the search stops at the first match.
    for (const auto& call : sim.calls()) EXPECT_NE(call.path, "H:");
    dismountBootVolume(found);
    EXPECT_EQ(sim.openHandleCount(), 0);
    EXPECT_EQ(found.handle, platform::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(sim.volume('G').mounted);
}

// Other letters (a network share, a sleeping disk) are only asked where they
// lie, through handles without access rights; the match alone is opened for
// the deployment.
TEST_F(BootVolumeTest, OnlyTheMatchIsOpenedWithTheDeploymentAccessAndSharing) {
    volume('C', 0);
    volume('D', 1, 512063, 1000000);
    volume('E', 1);
    BootVolume found;
    ASSERT_TRUE(findBootVolume(1, BOOT, found));
    EXPECT_EQ(found.path, u"\\\\.\\E:");
    std::vector<std::string> withAccess;
    for (const auto& call : sim.calls()) {
        if (call.name != "CreateFileW" || call.access == 0) continue;
        withAccess.push_back(call.path);
        EXPECT_EQ(call.access, 0xC0000000u);
        EXPECT_EQ(call.shareMode, 7u);
        EXPECT_EQ(call.disposition, 3u);
        EXPECT_EQ(call.flags, 0x20000000u);
    }
    EXPECT_EQ(withAccess, std::vector<std::string>{"\\\\.\\E:"});
    dismountBootVolume(found);
}

// No letter fits (the boot volume got none; F: is the card's data volume):
// the volume is found by its name, and its files are reached through it.
TEST_F(BootVolumeTest, VolumeWithoutALetterIsFoundByItsName) {
    volume('F', 1, 512063, 1000000);
    SimVolume boot;
    boot.directory = temp.file("unlettered");
    boot.driveNumber = 1;
    boot.startSector = BOOT.firstSector;
    boot.sectors = BOOT.sectors;
    std::string name = sim.addVolume('\0', boot);
    name.pop_back();  // the separator: the name then opens the volume itself
    BootVolume found;
    ASSERT_TRUE(findBootVolume(1, BOOT, found));
    EXPECT_EQ(found.letter, '\0');
    EXPECT_EQ(found.path, std::u16string(name.begin(), name.end()));
    dismountBootVolume(found);
    EXPECT_FALSE(sim.volumeNamed(name).mounted);
    QString root;
    ASSERT_TRUE(bootVolumeRoot(found, root));
    EXPECT_TRUE(sim.volumeNamed(name).mounted);
    EXPECT_EQ(root, QString::fromStdString(temp.file("unlettered/")));
    EXPECT_TRUE(flushBootVolume(found.path));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(BootVolumeTest, UnusableLettersArePassedOver) {
    volume('D', 1);  // no device name
    volume('E', 1);  // cannot be opened
    volume('G', 1);  // extents refused
    volume('H', 3);  // another drive
    volume('K', 1);
    sim.faults().refuseQueryDosDevice.insert('D');
    sim.faults().refuseVolumeOpen.insert('E');
    sim.faults().refuseExtents.insert('G');
    BootVolume found;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(findBootVolume(1, BOOT, found));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "failed 5\n");
    EXPECT_EQ(found.letter, 'K');
    EXPECT_EQ(sim.openHandleCount(), 1);
    // None of this goes to the debug channel.
    EXPECT_TRUE(sim.debugLines().empty());
    dismountBootVolume(found);
}

TEST_F(BootVolumeTest, NoVolumeOnTheDrive) {
    volume('C', 0);
    BootVolume found;
    EXPECT_FALSE(findBootVolume(1, BOOT, found));
    EXPECT_EQ(found.letter, 0);
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(BootVolumeTest, DestinationsLieBelowTheVolumeRoot) {
    volume('E', 1);
    sim.volume('E').mounted = false;
    QString root;
    ASSERT_TRUE(bootVolumeRoot(BootVolume{'E', u"\\\\.\\E:"}, root));
    EXPECT_TRUE(sim.volume('E').mounted);
    EXPECT_EQ(root, QString::fromStdString(temp.file("E/")));
    EXPECT_EQ(bootFolderDestination(root), root + "boot");
    EXPECT_EQ(firmwareDestination(root), root + "boot" + QDir::separator() + "bzImage");
    // The Windows form of the paths, where the root is the letter's own.
    EXPECT_EQ(firmwareDestination(QStringLiteral("E:\\")),
              QStringLiteral("E:\\boot") + QDir::separator() + "bzImage");
}

TEST_F(BootVolumeTest, VolumeWithoutFilesIsReported) {
    QString root;
    EXPECT_FALSE(bootVolumeRoot(BootVolume{'E', u"\\\\.\\E:"}, root));
    EXPECT_EQ(sim.debugLines(), std::vector<std::string>{"No file access to boot volume E:\n"});
}

}  // namespace
