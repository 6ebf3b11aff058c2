#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace platform;

uint32_t u32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

class SimMachine : public ::testing::Test {
protected:
    void SetUp() override {
        makeSparseFile(dir.file("card.img"), 128450560);
        SimDrive card;
        card.imagePath = dir.file("card.img");
        card.vendor = "Generic ";
        card.product = "Card Reader";
        sim.addDrive(3, card);
        sim.addVolume('E', SimVolume{dir.path(), 3});
        sim.addVolume('C', SimVolume{dir.path(), 0});
    }
    TempDir dir;
    SimPlatform sim;
};

TEST_F(SimMachine, DescribesDrivesInWindowsRecords) {
    Handle h = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    unsigned char hotplug[8];
    ASSERT_TRUE(sim.DeviceIoControl(h, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, hotplug, 8, nullptr));
    EXPECT_EQ(hotplug[HOTPLUG_MEDIA_REMOVABLE], 1);
    unsigned char geometry[40];
    ASSERT_TRUE(sim.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry, 40, nullptr));
    EXPECT_EQ(u32(geometry + GEOMETRY_EX_BYTES_PER_SECTOR), 512u);
    EXPECT_EQ(u32(geometry + GEOMETRY_EX_DISK_SIZE), 128450560u);
    unsigned char query[12] = {};
    static unsigned char descriptor[10000];
    std::memset(descriptor, 0, sizeof descriptor);
    ASSERT_TRUE(sim.DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, 12, descriptor,
                                    sizeof descriptor, nullptr));
    EXPECT_STREQ(reinterpret_cast<char*>(descriptor + u32(descriptor + DESCRIPTOR_VENDOR_OFFSET)), "Generic ");
    EXPECT_STREQ(reinterpret_cast<char*>(descriptor + u32(descriptor + DESCRIPTOR_PRODUCT_OFFSET)), "Card Reader");
    sim.drive(3).media = false;
    EXPECT_FALSE(sim.DeviceIoControl(h, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(sim.GetLastError(), ERROR_NOT_READY);
    EXPECT_TRUE(sim.CloseHandle(h));
    EXPECT_EQ(sim.CreateFileA("\\\\.\\PhysicalDrive4", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimMachine, VolumesLockDismountAndComeBack) {
    EXPECT_EQ(sim.GetLogicalDrives(), (1u << 2) | (1u << 4));
    char16_t target[1024];
    EXPECT_NE(sim.QueryDosDeviceW(u"E:", target, 1024), 0u);
    EXPECT_EQ(sim.QueryDosDeviceW(u"F:", target, 1024), 0u);

    Handle e = sim.CreateFileW(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(e, INVALID_HANDLE_VALUE);
    unsigned char extents[32];
    ASSERT_TRUE(sim.DeviceIoControl(e, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents, 32, nullptr));
    EXPECT_EQ(u32(extents + DISK_EXTENTS_FIRST_DISK_NUMBER), 3u);
    ASSERT_TRUE(sim.DeviceIoControl(e, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    ASSERT_TRUE(sim.DeviceIoControl(e, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(sim.volume('E').mounted);
    EXPECT_TRUE(sim.volumeLocked('E'));

    // A second handle cannot take the lock while the first holds it.
    Handle other = sim.CreateFileW(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(sim.DeviceIoControl(other, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    sim.CloseHandle(other);

    sim.faults().refuseUnlock.insert('E');
    sim.faults().error = 1117;
    EXPECT_FALSE(sim.DeviceIoControl(e, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(sim.GetLastError(), 1117u);
    sim.faults().refuseUnlock.clear();
    EXPECT_TRUE(sim.DeviceIoControl(e, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    sim.CloseHandle(e);
    EXPECT_EQ(sim.openHandleCount(), 0);

    EXPECT_EQ(sim.volumeRoot('E'), dir.path() + "/");
    EXPECT_TRUE(sim.volume('E').mounted);
    EXPECT_EQ(sim.volumeRoot('Q'), "");
}

TEST_F(SimMachine, TransfersCountAndFailOnDemand) {
    Handle h = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    unsigned char sector[512] = {1, 2, 3};
    uint32_t moved = 0;
    int32_t high = 0;
    sim.faults().failWritesAfter = 2;
    for (int i = 0; i < 3; ++i) {
        sim.SetFilePointer(h, i * 512, &high, FILE_BEGIN);
        EXPECT_EQ(sim.WriteFile(h, sector, 512, &moved), i < 2) << i;
    }
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(sim.writeCount(), 3u);
    // Unbuffered transfers need whole sectors.
    sim.SetFilePointer(h, 0, &high, FILE_BEGIN);
    EXPECT_FALSE(sim.ReadFile(h, sector, 100, &moved));
    EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_PARAMETER);
    sim.faults().shortReadAtLba.insert(0);
    EXPECT_TRUE(sim.ReadFile(h, sector, 512, &moved));
    EXPECT_EQ(moved, 256u);
    sim.CloseHandle(h);
}

TEST_F(SimMachine, CallLogCanBeSwitchedOff) {
    sim.setRecordCalls(false);
    Handle h = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ, 3, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    unsigned char sector[512];
    uint32_t moved = 0;
    EXPECT_TRUE(sim.ReadFile(h, sector, 512, &moved));
    EXPECT_TRUE(sim.CloseHandle(h));
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_EQ(sim.readCount(), 1u);
}

}  // namespace
