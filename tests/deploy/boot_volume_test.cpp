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

    void volume(char letter, int driveNumber) {
        SimVolume v;
        v.directory = temp.file(std::string(1, letter));
        v.driveNumber = driveNumber;
        sim.addVolume(letter, v);
    }
};

TEST_F(BootVolumeTest, LowestLetterOnTheDriveIsChosenAndLeftOpen) {
    volume('C', 0);
    volume('E', 2);
    volume('F', 2);
    BootVolume found;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(findBootVolume(2, found));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(found.letter, 'E');
    EXPECT_EQ(sim.openHandleCount(), 1);

    // F was never looked at: the search stops at the first match.
    for (const auto& call : sim.calls()) EXPECT_NE(call.path, "F:");
    dismountBootVolume(found);
    EXPECT_EQ(sim.openHandleCount(), 0);
    EXPECT_EQ(found.handle, platform::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(sim.volume('E').mounted);
}

TEST_F(BootVolumeTest, OpenedWithTheDeploymentAccessAndSharing) {
    volume('E', 1);
    BootVolume found;
    ASSERT_TRUE(findBootVolume(1, found));
    bool opened = false;
    for (const auto& call : sim.calls()) {
        if (call.name != "CreateFileW") continue;
        opened = true;
        EXPECT_EQ(call.path, "\\\\.\\E:");
        EXPECT_EQ(call.access, 0xC0000000u);
        EXPECT_EQ(call.shareMode, 7u);
        EXPECT_EQ(call.disposition, 3u);
        EXPECT_EQ(call.flags, 0x20000000u);
    }
    EXPECT_TRUE(opened);
    dismountBootVolume(found);
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
    ASSERT_TRUE(findBootVolume(1, found));
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
    EXPECT_FALSE(findBootVolume(1, found));
    EXPECT_EQ(found.letter, 0);
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(BootVolumeTest, DestinationsLieBelowTheVolumeRoot) {
    volume('E', 1);
    sim.volume('E').mounted = false;
    QString root;
    ASSERT_TRUE(bootVolumeRoot('E', root));
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
    EXPECT_FALSE(bootVolumeRoot('E', root));
    EXPECT_EQ(sim.debugLines(), std::vector<std::string>{"No file access to boot volume E:\n"});
}

}  // namespace
