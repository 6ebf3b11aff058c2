#include "install/deploy_stage.h"

#include "deploy/mounted_volume_deployer.h"

#include "platform/sim_platform.h"
#include "support/temp_dir.h"
#include "support/recording_report.h"
#include "working_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using History = std::vector<Shown>;

// A working directory with the boot files beside the program, and the
// simulated card's volumes as folders.
class DeployStageTest : public ::testing::Test {
protected:
    static constexpr int CARD = 1;
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    TempDir temp;
    RecordingReport report;

    void SetUp() override {
        fs::create_directories(temp.file("work/files/boot/grub"));
        fs::create_directories(temp.file("work/firmware"));
        writeWholeFile(temp.file("work/files/boot/grub/menu.lst"), "timeout 0\n");
        writeWholeFile(temp.file("work/files/boot/grub/stage2"), std::string(20000, 's'));
        writeWholeFile(temp.file("work/firmware/t6-board.fw"), "FIRMWARE");
    }

    // Where the new boot partition lies, and the data partition behind it.
    static constexpr PartitionPlace BOOT{63, 512000};
    static constexpr PartitionPlace DATA{512063, 1000000};

    std::string volume(char letter, int driveNumber, PartitionPlace place = BOOT) {
        platform::SimVolume v;
        v.directory = temp.file(std::string("vol") + letter);
        v.driveNumber = driveNumber;
        v.startSector = place.firstSector;
        v.sectors = place.sectors;
        fs::create_directories(v.directory);
        sim.addVolume(letter, v);
        return v.directory;
    }

    void deploy(const std::string& workDir = "work") {
        WorkingDirectory in(temp.file(workDir));
        MountedVolumeDeployer deployer(wizardSources(QString()));
        deployFiles(report, deployer, CARD, BOOT, 67, 99);
    }
};

const History fullHistory = {{-1, "Copying files..."},
                             {67, "Copying files..."},
                             {83, "Copying files..."},
                             {99, "Finished copying files"}};

// The OS gave the data partition the lower letter.
TEST_F(DeployStageTest, FilesGoToTheVolumeWhereTheBootPartitionLies) {
    const std::string c = volume('C', 0);
    const std::string e = volume('E', CARD, DATA);
    const std::string f = volume('F', CARD);
    deploy();

    EXPECT_FALSE(report.failed());
    EXPECT_EQ(report.history, fullHistory);
    EXPECT_EQ(readWholeFile(f + "/boot/grub/menu.lst"), "timeout 0\n");
    EXPECT_EQ(readWholeFile(f + "/boot/grub/stage2"), std::string(20000, 's'));
    EXPECT_EQ(readWholeFile(f + "/boot/bzImage"), "FIRMWARE");
    EXPECT_TRUE(fs::is_empty(e));
    EXPECT_TRUE(fs::is_empty(c));
    EXPECT_TRUE(sim.debugLines().empty());
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(DeployStageTest, BootVolumeIsDismountedBeforeTheCopy) {
    volume('E', CARD);
    deploy();
    bool dismounted = false;
    for (const auto& call : sim.calls())
        if (call.name == "DeviceIoControl" && call.code == platform::FSCTL_DISMOUNT_VOLUME) dismounted = true;
    EXPECT_TRUE(dismounted);
    // Reaching its files brought it back.
    EXPECT_TRUE(sim.volume('E').mounted);
}

TEST_F(DeployStageTest, FirmwareReplacesABzImageOfTheBootFolder) {
    writeWholeFile(temp.file("work/files/boot/bzImage"), "an older kernel, much longer than the firmware");
    const std::string e = volume('E', CARD);
    deploy();
    EXPECT_FALSE(report.failed());
    EXPECT_EQ(readWholeFile(e + "/boot/bzImage"), "FIRMWARE");
}

// The OS is given 60 s to mount the boot partition, looked for every 250 ms.
TEST_F(DeployStageTest, BootVolumeThatNeverComesFailsAfterTheWait) {
    sim.setVirtualClock(true);
    const std::string c = volume('C', 0);
    volume('E', CARD, DATA);
    report.show(59, "Finished writing bootloader");
    report.history.clear();
    deploy();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(report.history, (History{{59, "Copying files..."}}));
    EXPECT_EQ(sim.debugLines(), Lines{"Boot volume of disk 1 did not appear\n"});
    EXPECT_EQ(sim.GetTickCount64(), uint64_t(BOOT_VOLUME_WAIT_MS));
    int looks = 0;
    for (const auto& call : sim.calls()) looks += call.name == "GetLogicalDrives";
    EXPECT_EQ(looks, int(BOOT_VOLUME_WAIT_MS / BOOT_VOLUME_POLL_MS) + 1);
    EXPECT_TRUE(fs::is_empty(c));
    EXPECT_EQ(sim.openHandleCount(), 0);
}

TEST_F(DeployStageTest, MissingBootFolderFailsBothCopies) {
    fs::remove_all(temp.file("work/files/boot"));
    const std::string e = volume('E', CARD);
    deploy();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(sim.debugLines(), (Lines{"Copy failed: source does not exist\n",
                                       "Copy failed: unable to open file\n"}));
    EXPECT_EQ(report.history, fullHistory);
    EXPECT_TRUE(fs::is_empty(e));
}

TEST_F(DeployStageTest, MissingFirmwareFailsAfterTheFolderCopy) {
    fs::remove(temp.file("work/firmware/t6-board.fw"));
    const std::string e = volume('E', CARD);
    deploy();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(sim.debugLines(), Lines{"Copy failed: source does not exist\n"});
    EXPECT_EQ(report.history, fullHistory);
    EXPECT_TRUE(fs::exists(e + "/boot/grub/menu.lst"));
    EXPECT_FALSE(fs::exists(e + "/boot/bzImage"));
}

TEST_F(DeployStageTest, OtherWorkingDirectoryFindsNeitherSource) {
    fs::create_directories(temp.file("elsewhere"));
    volume('E', CARD);
    deploy("elsewhere");
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(sim.debugLines(), (Lines{"Copy failed: source does not exist\n",
                                       "Copy failed: source does not exist\n"}));
    EXPECT_EQ(report.history.back(), (Shown{99, "Finished copying files"}));
}

TEST_F(DeployStageTest, VolumeWithoutFileAccessCopiesNothing) {
    volume('E', CARD);
    sim.volume('E').directory.clear();
    deploy();
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(sim.debugLines(), Lines{"No file access to boot volume E:\n"});
    EXPECT_EQ(report.history, fullHistory);
    EXPECT_FALSE(fs::exists(temp.file("work/boot")));
}

TEST_F(DeployStageTest, SpanIsHalvedTowardZero) {
    volume('E', CARD);
    WorkingDirectory in(temp.file("work"));
    MountedVolumeDeployer deployer(wizardSources(QString()));
    deployFiles(report, deployer, CARD, BOOT, 10, 13);
    EXPECT_EQ(report.history, (History{{-1, "Copying files..."},
                                       {10, "Copying files..."},
                                       {11, "Copying files..."},
                                       {13, "Finished copying files"}}));
}

}  // namespace
