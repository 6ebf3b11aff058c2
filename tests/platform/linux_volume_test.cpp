// The Linux backend's drive letters, volume handles and disk extents, on a
// fake sysfs/dev tree with a fake mount table.

#include "linux_fake_tree.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr uint32_t ERROR_NOT_LOCKED = 158;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }
uint32_t bit(char letter) { return 1u << (letter - 'A'); }

// How many of this process's descriptors are open on `path`.
int openDescriptors(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) ++count;
    }
    return count;
}

class LinuxVolumes : public ::testing::Test {
protected:
    Handle openVolume(char letter) {
        std::u16string path = u"\\\\.\\?:";
        path[4] = static_cast<char16_t>(letter);
        return os.CreateFileW(path.c_str(), kReadWrite, kShared, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING);
    }
    bool control(Handle handle, uint32_t code) {
        return os.DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, nullptr);
    }
    struct Extent {
        uint32_t count, disk;
        uint64_t start, length;
    };
    Extent extentsOf(Handle handle) {
        std::vector<uint8_t> record(DISK_EXTENTS_ONE_SIZE, 0xAA);
        uint32_t returned = 0;
        EXPECT_TRUE(os.DeviceIoControl(handle, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                       record.data(), DISK_EXTENTS_ONE_SIZE, &returned));
        EXPECT_EQ(returned, DISK_EXTENTS_ONE_SIZE);
        return {le32(&record[DISK_EXTENTS_COUNT]), le32(&record[DISK_EXTENTS_FIRST_DISK_NUMBER]),
                le64(&record[DISK_EXTENTS_FIRST_STARTING_OFFSET]),
                le64(&record[DISK_EXTENTS_FIRST_LENGTH])};
    }

    // A system disk sda with one partition, and a card sdb with two.
    void addSystemAndCard() {
        tree.addDisk("sda", 64 << 20, false);
        tree.addPartition("sda", 1, 2048, 100000);
        tree.addDisk("sdb", 64 << 20, true);
        tree.addPartition("sdb", 1, 256, 20000);
        tree.addPartition("sdb", 2, 20256, 100000);
    }

    FakeLinuxTree tree;
    LinuxPlatform os{tree.roots()};
};

TEST_F(LinuxVolumes, MountedPartitionsGetLettersFromDInMountOrder) {
    addSystemAndCard();
    tree.mount("tmpfs", "/run", "tmpfs");
    tree.mount("/dev/sda1", "/", "ext4");
    tree.mount("/dev/loop0", tree.path("snap"), "squashfs");
    tree.mount("/dev/sdb2", tree.path("media/T6 DATA"));
    tree.mount("/dev/sdb1", tree.path("media/boot"));
    tree.mount("/dev/sda1", tree.path("again"), "ext4");  // one letter per partition
    tree.mount("/dev/mapper/root", tree.path("lvm"), "ext4");

    EXPECT_EQ(os.GetLogicalDrives(), bit('D') | bit('E') | bit('F'));
    EXPECT_EQ(os.volumeRoot('D'), "/");
    EXPECT_EQ(os.volumeRoot('E'), tree.path("media/T6 DATA") + "/");
    EXPECT_EQ(os.volumeRoot('f'), tree.path("media/boot") + "/");
    EXPECT_EQ(os.volumeRoot('G'), "");
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);

    Handle boot = openVolume('F');
    ASSERT_NE(boot, INVALID_HANDLE_VALUE);
    Extent extent = extentsOf(boot);
    EXPECT_EQ(extent.count, 1u);
    EXPECT_EQ(extent.disk, 1u);
    EXPECT_EQ(extent.start, 256u * 512);
    EXPECT_EQ(extent.length, 20000u * 512);
    Handle system = openVolume('D');
    ASSERT_NE(system, INVALID_HANDLE_VALUE);
    extent = extentsOf(system);
    EXPECT_EQ(extent.disk, 0u);
    EXPECT_EQ(extent.start, 2048u * 512);
    EXPECT_EQ(openVolume('G'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);

    // The volumes by name: the lettered ones, in letter order; without its
    // trailing separator a name opens the partition itself.
    std::vector<std::u16string> names;
    char16_t name[VOLUME_NAME_CHARS];
    Handle search = os.FindFirstVolumeW(name, VOLUME_NAME_CHARS);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do names.emplace_back(name);
    while (os.FindNextVolumeW(search, name, VOLUME_NAME_CHARS));
    EXPECT_EQ(os.GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(os.FindVolumeClose(search));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2].substr(0, 11), u"\\\\?\\Volume{");
    EXPECT_EQ(names[2].back(), u'\\');
    names[2].pop_back();
    Handle byName = os.CreateFileW(names[2].c_str(), 0, kShared, OPEN_EXISTING, 0);
    ASSERT_NE(byName, INVALID_HANDLE_VALUE);
    extent = extentsOf(byName);
    EXPECT_EQ(extent.disk, 1u);
    EXPECT_EQ(extent.start, 256u * 512);
    // A name's files are those of its partition's mount, separator or not.
    EXPECT_EQ(os.volumeNameRoot(names[2].c_str()), tree.path("media/boot") + "/");
    EXPECT_EQ(os.volumeNameRoot(names[1].c_str()), tree.path("media/T6 DATA") + "/");
    EXPECT_EQ(os.volumeNameRoot(u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}"), "");
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxVolumes, DosDeviceNamesThePartitionNode) {
    addSystemAndCard();
    tree.mount("/dev/sdb1", tree.path("boot"));
    std::vector<char16_t> target(1024, u'x');
    uint32_t count = os.QueryDosDeviceW(u"D:", target.data(), 1024);
    std::string node = tree.devPath("sdb1");
    ASSERT_EQ(count, node.size() + 2);
    EXPECT_EQ(std::u16string(target.data()), std::u16string(node.begin(), node.end()));
    EXPECT_EQ(target[node.size() + 1], 0);
    EXPECT_NE(os.QueryDosDeviceW(u"d:", target.data(), 1024), 0u);

    EXPECT_EQ(os.QueryDosDeviceW(u"E:", target.data(), 1024), 0u);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(os.QueryDosDeviceW(u"D", target.data(), 1024), 0u);
    EXPECT_EQ(os.QueryDosDeviceW(u"D:", target.data(), 4), 0u);
    EXPECT_EQ(os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(LinuxVolumes, ExtentsNeedAVolumeHandleAndRoomForOneExtent) {
    addSystemAndCard();
    tree.mount("/dev/sdb1", tree.path("boot"));
    Handle volume = openVolume('D');
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> record(32);
    EXPECT_FALSE(os.DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                    record.data(), 31, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // A volume is not a drive: its table is not re-read through it.
    EXPECT_FALSE(control(volume, IOCTL_DISK_UPDATE_PROPERTIES));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_FUNCTION);

    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive1", kReadWrite, kShared, OPEN_EXISTING, 0);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(os.DeviceIoControl(drive, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                    record.data(), 32, nullptr));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(control(drive, FSCTL_DISMOUNT_VOLUME));
}

TEST_F(LinuxVolumes, WholeDiskFileSystemIsAVolumeToo) {
    tree.addDisk("sdc", 8 << 20);
    tree.mount("/dev/sdc", tree.path("superfloppy"));
    ASSERT_EQ(os.GetLogicalDrives(), bit('D'));
    Handle volume = openVolume('D');
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    Extent extent = extentsOf(volume);
    EXPECT_EQ(extent.disk, 2u);
    EXPECT_EQ(extent.start, 0u);
    EXPECT_EQ(extent.length, 8u << 20);
    // The volume handle does not keep the drive's exclusive open out.
    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive2", kReadWrite, 0, OPEN_EXISTING, 0);
    EXPECT_NE(drive, INVALID_HANDLE_VALUE);

    // Unmounted and partitioned: the whole-disk volume is gone, as on Windows.
    tree.clearMounts();
    tree.addPartition("sdc", 1, 256, 1000);
    EXPECT_EQ(os.GetLogicalDrives(), 0u);
    EXPECT_EQ(openVolume('D'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
    // Read again: the new boot partition is the drive's only volume.
    ASSERT_TRUE(control(drive, IOCTL_DISK_UPDATE_PROPERTIES));
    EXPECT_EQ(os.GetLogicalDrives(), bit('D'));
    EXPECT_TRUE(os.CloseHandle(volume));
    volume = openVolume('D');
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    EXPECT_EQ(extentsOf(volume).start, 256u * 512);
}

TEST_F(LinuxVolumes, LoopDeviceWithAPartitionTableIsADriveOfItsOwn) {
    tree.addDisk("loop2", 8 << 20, false);
    tree.addPartition("loop2", 1, 256, 2000);
    tree.mount("/dev/loop5", tree.path("snap"), "squashfs");  // a whole loop device: no volume
    tree.mount("/dev/loop2p1", tree.path("loopboot"));
    ASSERT_EQ(os.GetLogicalDrives(), bit('D'));
    Handle volume = openVolume('D');
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    Extent extent = extentsOf(volume);
    EXPECT_EQ(extent.disk, 102u);
    EXPECT_EQ(extent.start, 256u * 512);
    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive102", kReadWrite, 0, OPEN_EXISTING, 0);
    EXPECT_NE(drive, INVALID_HANDLE_VALUE);
    for (const char* none : {"\\\\.\\PhysicalDrive26", "\\\\.\\PhysicalDrive99",
                             "\\\\.\\PhysicalDrive103"}) {
        EXPECT_EQ(os.CreateFileA(none, kReadWrite, kShared, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE)
            << none;
        EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND) << none;
    }
}

TEST_F(LinuxVolumes, LettersStayWithTheirPartitions) {
    addSystemAndCard();
    tree.mount("/dev/sdb1", tree.path("boot"));
    tree.mount("/dev/sdb2", tree.path("data"));
    ASSERT_EQ(os.GetLogicalDrives(), bit('D') | bit('E'));

    // Unmounted elsewhere: the letters stay, as a dismounted volume keeps its letter.
    tree.clearMounts();
    tree.mount("/dev/sda1", "/", "ext4");
    EXPECT_EQ(os.GetLogicalDrives(), bit('D') | bit('E') | bit('F'));
    Handle boot = openVolume('D');
    ASSERT_NE(boot, INVALID_HANDLE_VALUE);
    EXPECT_EQ(extentsOf(boot).disk, 1u);

    // A partition that is gone loses its letter; the letter is not handed out again.
    tree.removePartition("sdb", 2);
    EXPECT_EQ(os.GetLogicalDrives(), bit('D') | bit('F'));
    EXPECT_EQ(openVolume('E'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
    tree.addDisk("sdc", 1 << 20);
    tree.addPartition("sdc", 1, 256, 1000);
    tree.mount("/dev/sdc1", tree.path("stick"));
    EXPECT_EQ(os.GetLogicalDrives(), bit('D') | bit('F') | bit('G'));
}

TEST_F(LinuxVolumes, RereadDriveShowsItsFirstPartition) {
    addSystemAndCard();
    tree.mount("/dev/sda1", "/", "ext4");
    // The desktop had mounted only the card's second partition, and the
    // lock-out took it away: its letter E stays.
    tree.mount("/dev/sdb2", tree.path("data"));
    ASSERT_EQ(os.GetLogicalDrives(), bit('D') | bit('E'));
    tree.clearMounts();
    tree.mount("/dev/sda1", "/", "ext4");

    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive1", kReadWrite, 0, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(control(drive, IOCTL_DISK_UPDATE_PROPERTIES));
    EXPECT_TRUE(os.CloseHandle(drive));

    // Nothing has mounted the new boot partition, yet it is there to be found,
    // as the drive's first letter: the old E was the second partition's.
    EXPECT_EQ(os.GetLogicalDrives(), bit('D') | bit('E'));
    char16_t target[1024];
    EXPECT_NE(os.QueryDosDeviceW(u"E:", target, 1024), 0u);
    Handle boot = os.CreateFileW(u"\\\\.\\E:", kReadWrite,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(boot, INVALID_HANDLE_VALUE);
    Extent extent = extentsOf(boot);
    EXPECT_EQ(extent.disk, 1u);
    EXPECT_EQ(extent.start, 256u * 512);

    // The new table may have moved the partition: the extents follow sysfs.
    tree.setSysfs("sdb/sdb1/start", "2048\n");
    EXPECT_EQ(extentsOf(boot).start, 2048u * 512);
}

TEST_F(LinuxVolumes, OneVolumeLockAtATime) {
    addSystemAndCard();
    Handle drive = os.CreateFileA("\\\\.\\PhysicalDrive1", kReadWrite, 0, OPEN_EXISTING, 0);
    ASSERT_TRUE(control(drive, IOCTL_DISK_UPDATE_PROPERTIES));
    os.CloseHandle(drive);
    ASSERT_EQ(os.GetLogicalDrives(), bit('D'));

    Handle first = openVolume('D');
    Handle second = openVolume('D');
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    ASSERT_EQ(openDescriptors(tree.devPath("sdb1")), 2);
    ASSERT_TRUE(control(first, FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(control(first, FSCTL_DISMOUNT_VOLUME));
    // The lock holds no partition node open: the drive's table can be re-read.
    EXPECT_EQ(openDescriptors(tree.devPath("sdb1")), 1);
    uint8_t sector[512];
    uint32_t transferred = 0;
    EXPECT_FALSE(os.ReadFile(first, sector, 512, &transferred));
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(control(second, FSCTL_LOCK_VOLUME));
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(control(second, FSCTL_DISMOUNT_VOLUME));
    EXPECT_EQ(os.volumeRoot('D'), "");
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_TRUE(control(first, FSCTL_UNLOCK_VOLUME));
    EXPECT_FALSE(control(first, FSCTL_UNLOCK_VOLUME));
    EXPECT_EQ(os.GetLastError(), ERROR_NOT_LOCKED);
    EXPECT_TRUE(control(second, FSCTL_LOCK_VOLUME));
    // Closing the handle gives its lock up.
    EXPECT_TRUE(os.CloseHandle(second));
    EXPECT_TRUE(control(first, FSCTL_LOCK_VOLUME));
}

}  // namespace
