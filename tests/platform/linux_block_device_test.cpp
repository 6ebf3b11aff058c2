// The Linux backend against the real kernel: a loop device over an image,
// reached through the fake dev tree, and a real mount behind a fake volume.
// Needs root (and loop devices); skipped without them.

#include "linux_fake_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint64_t kImageBytes = 64ull << 20;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }

class LinuxBlockDevice : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || !haveProgram("losetup")) GTEST_SKIP() << "needs root and losetup";
        image_ = tree.path("card.img");
        ASSERT_TRUE(makeSparseFile(image_, kImageBytes));
        std::string output;
        if (runCommand("losetup -f --show '" + image_ + "'", &output) != 0 || output.empty())
            GTEST_SKIP() << "no loop device: " << output;
        loop_ = output.substr(0, output.find('\n'));
        tree.addDisk("sdb", 0);  // sysfs entries only: the node becomes the loop device
        tree.setSysfs("sdb/size", std::to_string(kImageBytes / 512) + "\n");
        ASSERT_EQ(::unlink(tree.devPath("sdb").c_str()), 0);
        ASSERT_EQ(::symlink(loop_.c_str(), tree.devPath("sdb").c_str()), 0);
    }
    void TearDown() override {
        if (!loop_.empty()) runCommand("losetup -d " + loop_);
    }

    FakeLinuxTree tree;
    LinuxPlatform os{tree.roots()};
    std::string image_;
    std::string loop_;
};

TEST_F(LinuxBlockDevice, ExclusiveOpenGeometryAndUnbufferedSectors) {
    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive1", kReadWrite, 0, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_EQ(os.CreateFileA("\\\\.\\PhysicalDrive1", kReadWrite, 0, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(os.DeviceIoControl(drive, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));

    // Size and sector size from the device; the geometry is always 255/63.
    std::vector<uint8_t> record(33);
    ASSERT_TRUE(os.DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   record.data(), 33, nullptr));
    EXPECT_EQ(le64(&record[GEOMETRY_EX_DISK_SIZE]), kImageBytes);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_BYTES_PER_SECTOR]), 512u);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_TRACKS_PER_CYLINDER]), 255u);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_SECTORS_PER_TRACK]), 63u);

    std::vector<uint8_t> storage(513), back(513);
    uint8_t* out = storage.data() + 1;
    uint8_t* in = back.data() + 1;
    for (int i = 0; i < 512; ++i) out[i] = static_cast<uint8_t>(255 - i);
    int32_t high = 0;
    os.SetFilePointer(drive, 1000 * 512, &high, FILE_BEGIN);
    uint32_t transferred = 0;
    ASSERT_TRUE(os.WriteFile(drive, out, 512, &transferred)) << os.GetLastError();
    EXPECT_EQ(transferred, 512u);
    high = 0;
    os.SetFilePointer(drive, 1000 * 512, &high, FILE_BEGIN);
    ASSERT_TRUE(os.ReadFile(drive, in, 512, &transferred)) << os.GetLastError();
    EXPECT_EQ(std::memcmp(in, out, 512), 0);

    // Unbuffered transfers must be whole sectors, as on Windows.
    high = 0;
    os.SetFilePointer(drive, 1000 * 512 + 1, &high, FILE_BEGIN);
    EXPECT_FALSE(os.ReadFile(drive, in, 512, &transferred));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(os.DeviceIoControl(drive, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(os.CloseHandle(drive));
    EXPECT_EQ(readWholeFile(image_).substr(1000 * 512, 512),
              std::string(reinterpret_cast<const char*>(out), 512));
}

}  // namespace

namespace {

// A volume lock takes the file system away, and a busy one refuses. Stands a
// tmpfs in for the card's file system: the unmount is the same for every type.
class LinuxVolumeLock : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root";
        mountPoint_ = tree.path("card boot");
        std::filesystem::create_directories(mountPoint_);
        if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
        mounted_ = true;
        tree.addDisk("sdc", 1 << 20);
        tree.addPartition("sdc", 1, 256, 1000);
        tree.mount("/dev/sdc1", mountPoint_);
    }
    void TearDown() override {
        if (mounted_) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    bool stillMounted() {
        return readWholeFile("/proc/self/mountinfo").find(tree.path("card\\040boot")) !=
               std::string::npos;
    }

    FakeLinuxTree tree;
    LinuxPlatform os{tree.roots()};
    std::string mountPoint_;
    bool mounted_ = false;
};

TEST_F(LinuxVolumeLock, BusyVolumeRefusesTheLockAndStaysMounted) {
    ASSERT_EQ(os.GetLogicalDrives(), 1u << ('D' - 'A'));
    EXPECT_EQ(os.volumeRoot('D'), mountPoint_ + "/");
    Handle volume = os.CreateFileW(u"\\\\.\\D:", kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);

    std::string busyFile = mountPoint_ + "/open.txt";
    int busy = ::open(busyFile.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(busy, 0);
    EXPECT_FALSE(os.DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(stillMounted());
    ::close(busy);

    EXPECT_TRUE(os.DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(stillMounted());
    mounted_ = false;
    EXPECT_TRUE(os.DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(os.DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(os.CloseHandle(volume));
}

}  // namespace
