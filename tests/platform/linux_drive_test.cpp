// The Linux backend on image files in a fake sysfs/dev tree: opening drives,
// device queries and sector transfers.

#include "linux_fake_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr uint32_t FILE_CURRENT = 1;
constexpr uint32_t FILE_END = 2;
constexpr uint32_t ERROR_NEGATIVE_SEEK = 131;
constexpr uint32_t ERROR_NOT_LOCKED = 158;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }

class LinuxDrive : public ::testing::Test {
protected:
    Handle openExclusive(const char* path) {
        return os.CreateFileA(path, kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    }
    Handle openShared(const char* path) {
        return os.CreateFileA(path, kReadWrite, kShared, OPEN_EXISTING, 0);
    }

    FakeLinuxTree tree;
    LinuxPlatform os{tree.roots()};
};

TEST_F(LinuxDrive, DriveNumberNamesTheSdDiskOfThatLetter) {
    tree.addDisk("sdc", 3 * 512);
    Handle handle = openExclusive("\\\\.\\PhysicalDrive2");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> record(40);
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   record.data(), 40, nullptr));
    EXPECT_EQ(le64(&record[GEOMETRY_EX_DISK_SIZE]), 3u * 512);
    EXPECT_TRUE(os.CloseHandle(handle));

    for (const char* missing : {"\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive26",
                                "\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDriveC", "sdc",
                                "\\\\.\\PhysicalDrive2x"}) {
        EXPECT_EQ(openExclusive(missing), INVALID_HANDLE_VALUE) << missing;
        EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND) << missing;
    }
}

TEST_F(LinuxDrive, DevicePathsNameDrivesPartitionsAndLoopDevices) {
    tree.addDisk("sdc", 3 * 512);
    tree.addPartition("sdc", 1, 1, 1);
    tree.addDisk("loop0", 3 * 512, false);
    tree.addPartition("loop0", 1, 1, 1);
    std::filesystem::create_directories(tree.devPath("disk/by-id"));
    std::filesystem::create_symlink("../../sdc", tree.devPath("disk/by-id/usb-card"));
    struct Case {
        std::string path;
        DeviceKind kind;
        int driveNumber;
    };
    const Case cases[] = {
        {tree.devPath("sdc"), DeviceKind::Drive, 2},
        {tree.devPath("disk/by-id/usb-card"), DeviceKind::Drive, 2},
        {tree.devPath("sdc1"), DeviceKind::Partition, 2},
        {tree.devPath("loop0"), DeviceKind::Loop, 100},
        {tree.devPath("loop0p1"), DeviceKind::Partition, 100},
        {tree.devPath("sr0"), DeviceKind::None, -1},
        {tree.path("sdc"), DeviceKind::None, -1},  // not under the dev root
    };
    for (const Case& c : cases) {
        const DeviceNode node = os.deviceNode(c.path);
        EXPECT_EQ(node.kind, c.kind) << c.path;
        EXPECT_EQ(node.driveNumber, c.driveNumber) << c.path;
    }

    // A drive's identity: its device and its partitions' labels (udev's
    // escapes undone), a partition without one by its name, in order.
    tree.addPartition("sdc", 2, 2, 1);
    tree.addPartition("sdc", 10, 2, 1);
    tree.addDisk("sdd", 3 * 512);
    std::filesystem::create_directories(tree.devPath("disk/by-label"));
    std::filesystem::create_symlink("../../sdc10", tree.devPath("disk/by-label/BOOT\\x20A"));
    std::filesystem::create_symlink("../../sdc1", tree.devPath("disk/by-label/DATA"));
    EXPECT_EQ(os.driveIdentity(2), tree.devPath("sdc") + " (DATA, sdc2, BOOT A)");
    EXPECT_EQ(os.driveIdentity(3), tree.devPath("sdd") + " (no volumes)");
    // The list's name of a drive: its device alone.
    EXPECT_EQ(os.devicePath(2), tree.devPath("sdc"));
}

TEST_F(LinuxDrive, ExclusiveOpenKeepsEveryOtherOpenerOut) {
    tree.addDisk("sda", 1 << 20);
    Handle first = openExclusive("\\\\.\\PhysicalDrive0");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openExclusive("\\\\.\\PhysicalDrive0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(openShared("\\\\.\\PhysicalDrive0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);

    // Another backend in the same process is another opener, too.
    LinuxPlatform other(tree.roots());
    EXPECT_EQ(other.CreateFileA("\\\\.\\PhysicalDrive0", kReadWrite, 0, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(other.GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(os.CloseHandle(first));

    Handle shared1 = openShared("\\\\.\\PhysicalDrive0");
    Handle shared2 = openShared("\\\\.\\PhysicalDrive0");
    EXPECT_NE(shared1, INVALID_HANDLE_VALUE);
    EXPECT_NE(shared2, INVALID_HANDLE_VALUE);
    EXPECT_NE(shared1, shared2);
    EXPECT_EQ(openExclusive("\\\\.\\PhysicalDrive0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
    os.CloseHandle(shared1);
    os.CloseHandle(shared2);
    Handle again = openExclusive("\\\\.\\PhysicalDrive0");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
}

TEST_F(LinuxDrive, LockNeedsTheExclusiveOpen) {
    tree.addDisk("sda", 1 << 20);
    Handle exclusive = openExclusive("\\\\.\\PhysicalDrive0");
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(os.DeviceIoControl(exclusive, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(os.DeviceIoControl(exclusive, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(os.DeviceIoControl(exclusive, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_NOT_LOCKED);
    os.CloseHandle(exclusive);

    Handle shared = openShared("\\\\.\\PhysicalDrive0");
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(os.DeviceIoControl(shared, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
    // Re-reading the table of an image file has nothing to do, and succeeds.
    EXPECT_TRUE(os.DeviceIoControl(shared, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                                   nullptr));
    EXPECT_FALSE(os.DeviceIoControl(shared, 0x12345678, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST_F(LinuxDrive, GeometryOfAnImageFile) {
    const uint64_t bytes = 128450560;
    tree.addDisk("sdb", bytes);
    Handle handle = openShared("\\\\.\\PhysicalDrive1");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> record(40, 0xAA);
    uint32_t returned = 0;
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   record.data(), 40, &returned));
    EXPECT_EQ(returned, 40u);
    EXPECT_EQ(le64(&record[GEOMETRY_EX_CYLINDERS]), bytes / (255 * 63 * 512));
    EXPECT_EQ(le32(&record[GEOMETRY_EX_MEDIA_TYPE]), MEDIA_TYPE_REMOVABLE);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_TRACKS_PER_CYLINDER]), 255u);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_SECTORS_PER_TRACK]), 63u);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_BYTES_PER_SECTOR]), 512u);
    EXPECT_EQ(le64(&record[GEOMETRY_EX_DISK_SIZE]), bytes);
    EXPECT_EQ(record[32], 0);
}

TEST_F(LinuxDrive, GeometryWritesOnlyWhatFitsTheCallersBuffer) {
    tree.addDisk("sda", 1 << 20, false);
    Handle handle = openShared("\\\\.\\PhysicalDrive0");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    std::vector<uint8_t> record(48, 0xAA);
    uint32_t returned = 0;
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   record.data(), 33, &returned));
    EXPECT_EQ(returned, 33u);
    EXPECT_EQ(le64(&record[GEOMETRY_EX_DISK_SIZE]), 1u << 20);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_MEDIA_TYPE]), MEDIA_TYPE_FIXED);
    for (size_t i = 33; i < record.size(); ++i) EXPECT_EQ(record[i], 0xAA) << i;

    std::vector<uint8_t> small(48, 0xAA);
    EXPECT_FALSE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                    small.data(), 31, &returned));
    EXPECT_EQ(os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(small, std::vector<uint8_t>(48, 0xAA));
    EXPECT_TRUE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   small.data(), 32, &returned));
    EXPECT_EQ(returned, 32u);
}

TEST_F(LinuxDrive, EmptyImageHasNoMedia) {
    tree.addDisk("sda", 0);
    Handle handle = openShared("\\\\.\\PhysicalDrive0");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> record(40);
    EXPECT_FALSE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                    record.data(), 40, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_NOT_READY);
    EXPECT_FALSE(os.DeviceIoControl(handle, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0,
                                    nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_NOT_READY);
}

TEST_F(LinuxDrive, HotplugAndMediaComeFromSysfs) {
    tree.addDisk("sda", 1 << 20, false);
    tree.addDisk("sdb", 1 << 20, true);
    tree.setSysfs("sdb/size", "0\n");  // a reader slot without a card
    tree.addDisk("sdc", 1 << 20, true);
    Handle fixed = openShared("\\\\.\\PhysicalDrive0");
    Handle empty = openShared("\\\\.\\PhysicalDrive1");
    Handle card = openShared("\\\\.\\PhysicalDrive2");
    ASSERT_NE(fixed, INVALID_HANDLE_VALUE);
    ASSERT_NE(empty, INVALID_HANDLE_VALUE);
    ASSERT_NE(card, INVALID_HANDLE_VALUE);

    uint8_t info[8];
    std::memset(info, 0xAA, sizeof info);
    ASSERT_TRUE(os.DeviceIoControl(fixed, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, info, 8, nullptr));
    EXPECT_EQ(le32(info), 8u);
    EXPECT_EQ(info[HOTPLUG_MEDIA_REMOVABLE], 0);
    ASSERT_TRUE(os.DeviceIoControl(card, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, info, 8, nullptr));
    EXPECT_EQ(info[HOTPLUG_MEDIA_REMOVABLE], 1);
    EXPECT_FALSE(os.DeviceIoControl(card, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, info, 7, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    EXPECT_TRUE(os.DeviceIoControl(card, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(os.DeviceIoControl(empty, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_NOT_READY);

    // Through handles without access rights: the media change count is the
    // kernel's disk sequence number, 0 where the kernel keeps none.
    tree.setSysfs("sdc/diskseq", "17\n");
    const struct {
        const char* path;
        bool medium;
        uint32_t count;
    } readers[] = {{"\\\\.\\PhysicalDrive1", false, 0}, {"\\\\.\\PhysicalDrive2", true, 17},
                   {"\\\\.\\PhysicalDrive0", true, 0}};
    for (const auto& reader : readers) {
        const Handle ask = os.CreateFileA(reader.path, 0, kShared, OPEN_EXISTING, 0);
        ASSERT_NE(ask, INVALID_HANDLE_VALUE) << reader.path;
        uint8_t count[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t returned = 0;
        EXPECT_EQ(os.DeviceIoControl(ask, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, count, 4, &returned),
                  reader.medium) << reader.path;
        if (reader.medium) {
            EXPECT_EQ(returned, 4u);
            EXPECT_EQ(le32(count), reader.count) << reader.path;
        } else {
            EXPECT_EQ(os.GetLastError(), ERROR_NOT_READY);
        }
        EXPECT_FALSE(os.DeviceIoControl(ask, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, count, 3, &returned));
        EXPECT_EQ(os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_TRUE(os.CloseHandle(ask));
    }
}

// A write-protected card opens for writing, as on Windows, and refuses the
// writes themselves; the writability query tells it before any write.
TEST_F(LinuxDrive, WriteProtectedCardOpensAndRefusesItsWrites) {
    tree.addDisk("sda", 1 << 20);
    tree.setSysfs("sda/ro", "0\n");
    tree.addDisk("sdb", 1 << 20);
    tree.setSysfs("sdb/ro", "1\n");
    for (const bool isProtected : {false, true}) {
        const char* path = isProtected ? "\\\\.\\PhysicalDrive1" : "\\\\.\\PhysicalDrive0";
        const Handle handle = openExclusive(path);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
        EXPECT_TRUE(os.DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
        EXPECT_EQ(os.DeviceIoControl(handle, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, nullptr),
                  !isProtected) << path;
        std::vector<uint8_t> sector(512, 0x5A);
        uint32_t moved = 0;
        ASSERT_EQ(os.SetFilePointer(handle, 512, nullptr, FILE_BEGIN), 512u);
        EXPECT_EQ(os.WriteFile(handle, sector.data(), 512, &moved), !isProtected) << path;
        if (isProtected) {
            EXPECT_EQ(os.GetLastError(), ERROR_WRITE_PROTECT);
            EXPECT_EQ(moved, 0u);
        }
        ASSERT_EQ(os.SetFilePointer(handle, 512, nullptr, FILE_BEGIN), 512u);
        EXPECT_TRUE(os.ReadFile(handle, sector.data(), 512, &moved)) << path;
        EXPECT_EQ(sector[0], isProtected ? 0 : 0x5A) << path;
        EXPECT_TRUE(os.CloseHandle(handle));
    }
}

TEST_F(LinuxDrive, DescriptorTextsKeepTheirPadding) {
    tree.addDisk("sdb", 1 << 20);
    tree.setSysfs("sdb/device/vendor", "Generic \n");
    tree.setSysfs("sdb/device/model", "STORAGE DEVICE  \n");
    Handle handle = openShared("\\\\.\\PhysicalDrive1");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    uint8_t query[PROPERTY_QUERY_SIZE] = {};
    std::vector<uint8_t> buffer(10000, 0);
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query,
                                   buffer.data(), 10000, nullptr));
    uint32_t vendor = le32(&buffer[DESCRIPTOR_VENDOR_OFFSET]);
    uint32_t product = le32(&buffer[DESCRIPTOR_PRODUCT_OFFSET]);
    ASSERT_GE(vendor, DESCRIPTOR_HEADER_SIZE);
    ASSERT_GE(product, DESCRIPTOR_HEADER_SIZE);
    ASSERT_LT(vendor, 10000u);
    ASSERT_LT(product, 10000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[vendor])), "Generic ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[product])), "STORAGE DEVICE  ");
    EXPECT_EQ(buffer[10], 1);  // RemovableMedia
    EXPECT_LE(le32(&buffer[4]), 10000u);

    // A device without a vendor text reports offset 0 for it.
    tree.setSysfs("sdb/device/model", "CF Reader\n");
    std::remove(tree.path("sys/block/sdb/device/vendor").c_str());
    std::fill(buffer.begin(), buffer.end(), 0);
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query,
                                   buffer.data(), 10000, nullptr));
    EXPECT_EQ(le32(&buffer[DESCRIPTOR_VENDOR_OFFSET]), 0u);
    product = le32(&buffer[DESCRIPTOR_PRODUCT_OFFSET]);
    ASSERT_LT(product, 10000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[product])), "CF Reader");

    // Other properties and short queries are refused.
    query[0] = 1;
    EXPECT_FALSE(os.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query,
                                    buffer.data(), 10000, nullptr));
    query[0] = 0;
    EXPECT_FALSE(os.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, 8,
                                    buffer.data(), 10000, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_PARAMETER);
}

// Reads `count` bytes of the image at `offset`, bypassing the backend.
std::vector<uint8_t> imageBytes(const std::string& path, uint64_t offset, size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return bytes;
}

TEST_F(LinuxDrive, SectorsRoundTripThroughUnalignedBuffers) {
    const uint64_t size = 5ull << 30;  // sparse: past the 4 GiB a 32-bit offset reaches
    tree.addDisk("sda", size);
    Handle handle = openExclusive("\\\\.\\PhysicalDrive0");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    std::vector<uint8_t> storage(1024 + 1);
    uint8_t* out = storage.data() + 1;  // deliberately not aligned
    std::vector<uint8_t> back(512 + 3);
    uint8_t* in = back.data() + 3;
    const uint64_t offsets[] = {0, 8388607ull * 512, (8388608ull + 5) * 512};
    for (uint64_t offset : offsets) {
        for (int i = 0; i < 512; ++i) out[i] = static_cast<uint8_t>(i * 7 + offset / 512);
        int32_t high = static_cast<int32_t>(offset >> 32);
        EXPECT_EQ(os.SetFilePointer(handle, static_cast<int32_t>(static_cast<uint32_t>(offset)),
                                    &high, FILE_BEGIN),
                  static_cast<uint32_t>(offset));
        EXPECT_EQ(high, static_cast<int32_t>(offset >> 32));
        uint32_t transferred = 0;
        ASSERT_TRUE(os.WriteFile(handle, out, 512, &transferred)) << offset;
        EXPECT_EQ(transferred, 512u);
        high = 0;
        EXPECT_EQ(os.SetFilePointer(handle, 0, &high, FILE_CURRENT),
                  static_cast<uint32_t>(offset + 512));

        high = static_cast<int32_t>(offset >> 32);
        os.SetFilePointer(handle, static_cast<int32_t>(static_cast<uint32_t>(offset)), &high,
                          FILE_BEGIN);
        std::memset(in, 0, 512);
        ASSERT_TRUE(os.ReadFile(handle, in, 512, &transferred)) << offset;
        EXPECT_EQ(transferred, 512u);
        EXPECT_EQ(std::memcmp(in, out, 512), 0) << offset;
        EXPECT_EQ(imageBytes(tree.devPath("sda"), offset, 512), std::vector<uint8_t>(out, out + 512))
            << offset;
    }
    // The sector before the last write is untouched.
    EXPECT_EQ(imageBytes(tree.devPath("sda"), (8388608ull + 4) * 512, 512),
              std::vector<uint8_t>(512, 0));
    EXPECT_TRUE(os.CloseHandle(handle));
}

TEST_F(LinuxDrive, FilePointerMovesLikeWindows) {
    tree.addDisk("sda", 4096);
    Handle handle = openShared("\\\\.\\PhysicalDrive0");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    // Without a high part the low part is a signed distance.
    EXPECT_EQ(os.SetFilePointer(handle, -512, nullptr, FILE_END), 3584u);
    EXPECT_EQ(os.SetFilePointer(handle, -1024, nullptr, FILE_CURRENT), 2560u);
    EXPECT_EQ(os.SetFilePointer(handle, -4096, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(os.GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(os.SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 2560u);

    // Reading at the end transfers nothing and is no failure.
    os.SetFilePointer(handle, 0, nullptr, FILE_END);
    uint8_t sector[512];
    uint32_t transferred = 99;
    EXPECT_TRUE(os.ReadFile(handle, sector, 512, &transferred));
    EXPECT_EQ(transferred, 0u);
}

TEST_F(LinuxDrive, UnknownHandlesAreRefused) {
    uint8_t sector[512] = {};
    uint32_t transferred = 0;
    EXPECT_FALSE(os.ReadFile(12345, sector, 512, &transferred));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(os.WriteFile(12345, sector, 512, &transferred));
    EXPECT_FALSE(os.DeviceIoControl(12345, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_HANDLE);

    tree.addDisk("sda", 4096);
    Handle handle = openShared("\\\\.\\PhysicalDrive0");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(os.CloseHandle(handle));
    EXPECT_FALSE(os.CloseHandle(handle));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(LinuxDrive, DebugLinesGoToStandardError) {
    ::testing::internal::CaptureStderr();
    os.OutputDebugStringA("Create file \\\\.\\PhysicalDrive4 failed: 2\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Create file \\\\.\\PhysicalDrive4 failed: 2\n");
}

TEST_F(LinuxDrive, LastErrorBelongsToItsThread) {
    EXPECT_EQ(openShared("\\\\.\\PhysicalDrive9"), INVALID_HANDLE_VALUE);
    ASSERT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
    uint32_t seenBefore = 99, seenAfter = 99;
    std::thread worker([&] {
        seenBefore = os.GetLastError();
        os.CloseHandle(777);
        seenAfter = os.GetLastError();
    });
    worker.join();
    EXPECT_EQ(seenBefore, ERROR_SUCCESS);
    EXPECT_EQ(seenAfter, ERROR_INVALID_HANDLE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
