#include "disk/raw_disk.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>
#if __has_include(<sys/resource.h>)
#include <sys/resource.h>
#endif

namespace {

const char* const DRIVE1 = "\\\\.\\PhysicalDrive1";

TEST(OpenPhysicalDrive, OpensLocksAndReportsGeometry) {
    SimCard card(4009549824ull, 255, 63);
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint32_t sectors = 0, heads = 0, spt = 0;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    EXPECT_EQ(sectors, 4009549824ull / 512);
    EXPECT_EQ(heads, 255u);
    EXPECT_EQ(spt, 63u);
    EXPECT_TRUE(card.sim.driveLocked(1));
    // Opened exclusively and unbuffered, geometry asked into a 33-byte buffer.
    const auto& open = card.sim.calls().front();
    EXPECT_EQ(open.name, "CreateFileA");
    EXPECT_EQ(open.access, 0xC0000000u);
    EXPECT_EQ(open.shareMode, 0u);
    EXPECT_EQ(open.disposition, 3u);
    EXPECT_EQ(open.flags, 0x20000000u);
    bool askedGeometry = false;
    for (const auto& call : card.sim.calls())
        if (call.code == platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX) {
            askedGeometry = true;
            EXPECT_EQ(call.outSize, 33u);
        }
    EXPECT_TRUE(askedGeometry);

    // A second exclusive opener is turned away while we hold the drive.
    platform::Handle other;
    EXPECT_FALSE(openPhysicalDrive(DRIVE1, other, sectors, heads, spt));
    EXPECT_EQ(card.sim.debugLines().back(), "Create file \\\\.\\PhysicalDrive1 failed: 32\n");

    EXPECT_TRUE(releaseDisk(handle));
    EXPECT_EQ(card.sim.openHandleCount(), 0);
    EXPECT_FALSE(card.sim.driveLocked(1));
}

TEST(OpenPhysicalDrive, RefusalsLeaveGeometryUntouched) {
    SimCard card(64ull << 20);
    uint32_t sectors = 11, heads = 22, spt = 33;
    platform::Handle handle = 1234;

    card.sim.faults().refuseOpenDrive.insert(1);
    card.sim.faults().error = 5;
    EXPECT_FALSE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    EXPECT_EQ(handle, platform::INVALID_HANDLE_VALUE);
    ASSERT_EQ(card.sim.debugLines().size(), 1u);
    EXPECT_EQ(card.sim.debugLines()[0], "Create file \\\\.\\PhysicalDrive1 failed: 5\n");
    card.sim.faults().refuseOpenDrive.clear();

    // Lock refused: no line of its own, the handle stays open and stored.
    card.sim.faults().refuseDriveLock = true;
    EXPECT_FALSE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    EXPECT_NE(handle, platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(card.sim.openHandleCount(), 1);
    EXPECT_EQ(card.sim.debugLines().size(), 1u);
    card.sim.CloseHandle(handle);
    card.sim.faults().refuseDriveLock = false;

    card.sim.drive(1).bytesPerSector = 4096;
    EXPECT_FALSE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    card.sim.CloseHandle(handle);
    EXPECT_EQ(sectors, 11u);
    EXPECT_EQ(heads, 22u);
    EXPECT_EQ(spt, 33u);
}

TEST(OpenPhysicalDrive, RefusesDriveOfTwoTerabytesOrMore) {
    SimCard card(512ull << 32);  // 2^32 sectors, sparse
    if (!card.made) GTEST_SKIP() << "no sparse file of 2 TiB on this file system";
    platform::Handle handle;
    uint32_t sectors = 0, heads = 0, spt = 0;
    EXPECT_FALSE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    ASSERT_FALSE(card.sim.debugLines().empty());
    EXPECT_NE(card.sim.debugLines().back().find("4294967296 sectors"), std::string::npos);
    card.sim.CloseHandle(handle);

    SimCard largest((512ull << 32) - 512);
    EXPECT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    EXPECT_EQ(sectors, 0xFFFFFFFFu);
    releaseDisk(handle);
}

TEST(SectorIo, RoundTripAndOffsets) {
    SimCard card(4ull << 30);
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    unsigned char out[512], in[512];
    for (int i = 0; i < 512; ++i) out[i] = static_cast<unsigned char>(i * 7);
    card.sim.clearCalls();
    ASSERT_TRUE(writeSector(handle, 8388607, out));
    ASSERT_TRUE(readSector(handle, 8388607, in));
    EXPECT_EQ(std::memcmp(in, out, 512), 0);
    EXPECT_EQ(card.sim.calls()[0].offset, 4294966784ull);
    releaseDisk(handle);

    // Past 4 GiB the offset stays exact instead of wrapping onto sector 0.
    SimCard big(8ull << 30);
    platform::Handle bigHandle;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, bigHandle, sectors, heads, spt));
    ASSERT_TRUE(writeSector(bigHandle, 8388608, out));
    ASSERT_TRUE(readSector(bigHandle, 0, in));
    EXPECT_NE(std::memcmp(in, out, 512), 0);
    ASSERT_TRUE(readSector(bigHandle, 8388608, in));
    EXPECT_EQ(std::memcmp(in, out, 512), 0);
    releaseDisk(bigHandle);
}

TEST(SectorIo, FailedAndShortTransfersAreFalse) {
    SimCard card(64ull << 20);
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    unsigned char buffer[512] = {};
    card.sim.faults().failReadAtLba.insert(5);
    card.sim.faults().shortWriteAtLba.insert(6);
    EXPECT_FALSE(readSector(handle, 5, buffer));
    EXPECT_FALSE(writeSector(handle, 6, buffer));
    EXPECT_TRUE(readSector(handle, 6, buffer));
    // Beyond the end of the disk nothing moves.
    EXPECT_FALSE(readSector(handle, sectors, buffer));
    releaseDisk(handle);
}

// A file system under the image that refuses bytes (here the process's file
// size limit) fails that write, with the error Windows gives a file too large.
TEST(SectorIo, WriteRefusedByTheImageFileSystemIsFalse) {
#if __has_include(<sys/resource.h>)
    SimCard card(64ull << 20);
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    const unsigned char buffer[512] = {1};
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit low = previous;
    low.rlim_cur = 1 << 20;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    const bool below = writeSector(handle, 8, buffer);
    const bool beyond = writeSector(handle, 4096, buffer);
    const uint32_t error = card.sim.GetLastError();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
    EXPECT_TRUE(below);
    EXPECT_FALSE(beyond);
    EXPECT_EQ(error, platform::ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(card.sim.imageWriteError(), platform::ERROR_FILE_TOO_LARGE);
    EXPECT_TRUE(releaseDisk(handle));
#else
    GTEST_SKIP() << "no file size limit to refuse a write";
#endif
}

TEST(ReleaseDisk, FailedCloseIsReportedAndTheHandleGone) {
    SimCard card(64ull << 20);
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    card.sim.faults().failDriveClose = true;
    EXPECT_FALSE(releaseDisk(handle));
    EXPECT_EQ(card.sim.debugLines(), std::vector<std::string>{"Failed to close disk: 29\n"});
    EXPECT_EQ(card.sim.openHandleCount(), 0);
}

TEST(ReleaseDisk, FailedUnlockStillRefreshesAndCloses) {
    SimCard card(64ull << 20);
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    ASSERT_TRUE(openPhysicalDrive(DRIVE1, handle, sectors, heads, spt));
    card.sim.DeviceIoControl(handle, platform::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr);
    card.sim.clearCalls();
    EXPECT_TRUE(releaseDisk(handle));  // its unlock now fails: not locked any more
    ASSERT_EQ(card.sim.calls().size(), 3u);
    EXPECT_EQ(card.sim.calls()[0].code, platform::FSCTL_UNLOCK_VOLUME);
    EXPECT_EQ(card.sim.calls()[1].code, platform::IOCTL_DISK_UPDATE_PROPERTIES);
    EXPECT_EQ(card.sim.calls()[2].name, "CloseHandle");
    EXPECT_EQ(card.sim.openHandleCount(), 0);
}

}  // namespace
