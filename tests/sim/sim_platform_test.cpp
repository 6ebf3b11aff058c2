#include "platform/sim_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

    // A second handle can neither take the lock nor dismount while the first
    // holds it.
    Handle other = sim.CreateFileW(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(sim.DeviceIoControl(other, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(sim.DeviceIoControl(other, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
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

bool control(SimPlatform& sim, Handle h, uint32_t code) {
    return sim.DeviceIoControl(h, code, nullptr, 0, nullptr, 0, nullptr);
}

bool writeAt(SimPlatform& sim, Handle h, uint32_t lba, const unsigned char* bytes = nullptr) {
    static const unsigned char zeros[512] = {};
    int32_t high = 0;
    uint32_t moved = 0;
    sim.SetFilePointer(h, static_cast<int32_t>(lba * 512), &high, FILE_BEGIN);
    return sim.WriteFile(h, bytes != nullptr ? bytes : zeros, 512, &moved) && moved == 512;
}

// A station asks through a handle without access rights while a run holds
// the drive; the card goes and another comes on the machine's timeline.
TEST_F(SimMachine, MediaComeAndGoAndTheirCountTellsTheCardsApart) {
    sim.setVirtualClock(true);
    makeSparseFile(dir.file("second.img"), 1 << 20);
    SimMediaChange out;
    out.atMs = 1000;
    out.media = false;
    SimMediaChange in;
    in.atMs = 2000;
    in.imagePath = dir.file("second.img");
    in.writeProtected = true;
    sim.drive(3).mediaChanges = {out, in};
    const char* path = "\\\\.\\PhysicalDrive3";
    Handle run = sim.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_NE(run, INVALID_HANDLE_VALUE);
    Handle ask = sim.CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(ask, INVALID_HANDLE_VALUE);
    unsigned char sector[512] = {};
    uint32_t moved = 0;
    EXPECT_FALSE(sim.ReadFile(ask, sector, 512, &moved));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
    const auto count = [&](Handle h, uint32_t size = 4) -> int64_t {
        unsigned char bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t returned = 99;
        if (!sim.DeviceIoControl(h, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, bytes, size, &returned))
            return -int64_t(sim.GetLastError());
        return returned == 4 ? int64_t(u32(bytes)) : 1000 + returned;
    };
    EXPECT_EQ(count(ask), 0);
    EXPECT_EQ(count(ask, 0), 1000);  // without a buffer: the answer alone
    EXPECT_EQ(count(ask, 3), -int64_t(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(writeAt(sim, run, 0));

    sim.Sleep(1000);  // the card is taken out under the run
    EXPECT_EQ(count(ask), -int64_t(ERROR_NOT_READY));
    EXPECT_FALSE(writeAt(sim, run, 0));
    EXPECT_EQ(sim.GetLastError(), ERROR_NOT_READY);
    Handle volume = sim.CreateFileW(u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    for (const Handle flushed : {run, volume}) {
        EXPECT_FALSE(sim.FlushFileBuffers(flushed));
        EXPECT_EQ(sim.GetLastError(), ERROR_NOT_READY);
    }
    sim.CloseHandle(volume);

    sim.Sleep(1000);  // another card, write-protected, of another size
    EXPECT_EQ(count(ask), 2);
    EXPECT_EQ(count(run), 2);
    EXPECT_FALSE(sim.ReadFile(run, sector, 512, &moved));
    EXPECT_EQ(sim.GetLastError(), ERROR_MEDIA_CHANGED);
    sim.CloseHandle(run);
    Handle next = sim.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_NE(next, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(control(sim, next, IOCTL_DISK_IS_WRITABLE));
    EXPECT_EQ(sim.GetLastError(), ERROR_WRITE_PROTECT);
    unsigned char geometry[40];
    ASSERT_TRUE(sim.DeviceIoControl(ask, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry, 40, nullptr));
    EXPECT_EQ(u32(geometry + GEOMETRY_EX_DISK_SIZE), 1u << 20);
    EXPECT_TRUE(sim.ReadFile(next, sector, 512, &moved));
    sim.CloseHandle(next);
    sim.CloseHandle(ask);
}

// Processes that run one machine share its timeline: a start given from
// outside counts the machine's time, and changes due by then are in place.
TEST_F(SimMachine, StartGivenFromOutsideSetsTheMachinesTime) {
    SimMediaChange out;
    out.atMs = 5000;
    out.media = false;
    sim.drive(3).mediaChanges = {out};
    sim.setStartMs(simSteadyNowMs() + 60000);  // not yet begun: time stands at 0
    EXPECT_EQ(sim.GetTickCount64(), 0u);
    sim.setStartMs(simSteadyNowMs() - 6000);
    EXPECT_GE(sim.GetTickCount64(), 6000u);
    EXPECT_LT(sim.GetTickCount64(), 60000u);
    Handle ask = sim.CreateFileA("\\\\.\\PhysicalDrive3", 0, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(sim.DeviceIoControl(ask, IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(sim.GetLastError(), ERROR_NOT_READY);
    sim.CloseHandle(ask);
}

// Windows' rules for raw access, each after the situation that brings it out.
TEST_F(SimMachine, KeepsWindowsRulesForRawAccess) {
    sim.setVirtualClock(true);
    SimVolume held{dir.path(), 3};
    held.startSector = 2048;
    held.sectors = 1000;
    held.heldOpen = true;
    const std::string name = sim.addVolume('\0', held);
    sim.drive(3).busyForMs = 2000;
    sim.drive(3).sharedHoldMs = 1000;

    // Another program holds the drive: exclusive opens are refused, shared
    // ones pass, and so does the exclusive one once the program lets go.
    EXPECT_EQ(sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), ERROR_SHARING_VIOLATION);
    Handle shared = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ, 3, OPEN_EXISTING, 0);
    // Meanwhile it also writes to the drive, sharing reading only: whoever
    // asks to write, or denies it write sharing, is refused.
    for (const auto& open : {std::make_pair(GENERIC_READ | GENERIC_WRITE, 3u),
                             std::make_pair(GENERIC_READ, 1u)}) {
        EXPECT_EQ(sim.CreateFileA("\\\\.\\PhysicalDrive3", open.first, open.second, OPEN_EXISTING, 0),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim.GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_FALSE(control(sim, shared, FSCTL_LOCK_VOLUME));
    EXPECT_EQ(sim.GetLastError(), ERROR_SHARING_VIOLATION);
    // A flush needs write access; a control code the access its code asks
    // for (IOCTL_STORAGE_CHECK_VERIFY: read).
    EXPECT_FALSE(sim.FlushFileBuffers(shared));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(control(sim, shared, IOCTL_STORAGE_CHECK_VERIFY));
    sim.CloseHandle(shared);
    sim.Sleep(2000);
    // Once the other program let go, a handle opened for writing flushes.
    Handle writer = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(control(sim, writer, IOCTL_STORAGE_CHECK_VERIFY));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(sim.FlushFileBuffers(writer));
    sim.CloseHandle(writer);
    Handle h = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(control(sim, h, FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(control(sim, h, IOCTL_DISK_IS_WRITABLE));

    // The volume without a letter is listed and opened by its name.
    char16_t found[VOLUME_NAME_CHARS];
    std::vector<std::string> names;
    Handle search = sim.FindFirstVolumeW(found, VOLUME_NAME_CHARS);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::string text;
        for (const char16_t* c = found; *c != 0; ++c) text += static_cast<char>(*c);
        names.push_back(text);
    } while (sim.FindNextVolumeW(search, found, VOLUME_NAME_CHARS));
    EXPECT_EQ(sim.GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(sim.FindVolumeClose(search));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2], name);
    EXPECT_EQ(names[2].substr(0, 11), "\\\\?\\Volume{");
    std::u16string device(name.begin(), name.end() - 1);
    Handle query = sim.CreateFileW(device.c_str(), 0, 3, OPEN_EXISTING, 0);
    unsigned char extents[32];
    ASSERT_TRUE(sim.DeviceIoControl(query, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents, 32, nullptr));
    EXPECT_EQ(u32(extents + DISK_EXTENTS_FIRST_STARTING_OFFSET), 2048u * 512);
    EXPECT_EQ(u32(extents + DISK_EXTENTS_FIRST_LENGTH), 1000u * 512);
    // A handle without access rights asks, but cannot lock.
    EXPECT_FALSE(control(sim, query, FSCTL_LOCK_VOLUME));
    sim.CloseHandle(query);

    // Raw writes into the mounted volume are refused until it is locked or
    // dismounted; outside it they pass. Its holder refuses the lock until a
    // dismount takes the holder's handles away.
    EXPECT_TRUE(writeAt(sim, h, 2047));
    EXPECT_FALSE(writeAt(sim, h, 2048));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
    Handle volume = sim.CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    EXPECT_FALSE(control(sim, volume, FSCTL_LOCK_VOLUME));
    EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(control(sim, volume, FSCTL_DISMOUNT_VOLUME));
    EXPECT_TRUE(writeAt(sim, h, 3047));
    EXPECT_TRUE(control(sim, volume, FSCTL_LOCK_VOLUME));
    sim.CloseHandle(volume);

    // A write-protected card opens, and refuses every write.
    sim.drive(3).writeProtected = true;
    EXPECT_FALSE(control(sim, h, IOCTL_DISK_IS_WRITABLE));
    EXPECT_EQ(sim.GetLastError(), ERROR_WRITE_PROTECT);
    EXPECT_FALSE(writeAt(sim, h, 0));
    EXPECT_EQ(sim.GetLastError(), ERROR_WRITE_PROTECT);
    sim.CloseHandle(h);
}

// A new partition table: once the drive is let go, the old volumes go (their
// letter answers a while longer), and the partitions arrive later with the
// letters given, the second first here.
TEST_F(SimMachine, NewPartitionsArriveAfterTheDriveIsReleased) {
    sim.setVirtualClock(true);
    SimArrival arrival;
    arrival.arriveAfterMs = 2500;
    arrival.letters = {'G', 'F'};
    arrival.folders = {dir.file("boot"), dir.file("data")};
    arrival.staleForMs = 1000;
    sim.setAfterRepartition(arrival);

    Handle h = sim.CreateFileA("\\\\.\\PhysicalDrive3", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    unsigned char mbr[512] = {};
    const uint32_t entries[2][2] = {{63, 1000}, {1063, 5000}};
    for (int i = 0; i < 2; ++i) {
        unsigned char* entry = mbr + 446 + 16 * i;
        entry[4] = 0x06;
        for (int b = 0; b < 4; ++b) {
            entry[8 + b] = static_cast<unsigned char>(entries[i][0] >> (8 * b));
            entry[12 + b] = static_cast<unsigned char>(entries[i][1] >> (8 * b));
        }
    }
    ASSERT_TRUE(writeAt(sim, h, 0, mbr));
    EXPECT_EQ(sim.GetLogicalDrives(), (1u << 2) | (1u << 4));
    sim.CloseHandle(h);

    EXPECT_EQ(sim.GetLogicalDrives(), (1u << 2) | (1u << 4));  // E: still answers
    sim.Sleep(1000);
    EXPECT_EQ(sim.GetLogicalDrives(), 1u << 2);
    sim.Sleep(1499);
    EXPECT_EQ(sim.GetLogicalDrives(), 1u << 2);
    sim.Sleep(1);
    EXPECT_EQ(sim.GetLogicalDrives(), (1u << 2) | (1u << 5) | (1u << 6));
    EXPECT_EQ(sim.volume('G').startSector, 63u);
    EXPECT_EQ(sim.volume('F').startSector, 1063u);
    EXPECT_EQ(sim.volumeRoot('F'), dir.file("data") + "/");

    // A drive with an arrival of its own: its volume comes as that says, and
    // its folder starts empty, as a freshly formatted volume.
    makeSparseFile(dir.file("other.img"), 1 << 20);
    SimDrive other;
    other.imagePath = dir.file("other.img");
    SimArrival own;
    own.letters = {'H'};
    own.folders = {dir.file("own")};
    other.afterRepartition = own;
    sim.addDrive(4, other);
    std::filesystem::create_directories(dir.file("own/boot"));
    ASSERT_TRUE(writeWholeFile(dir.file("own/boot/OLD.TXT"), "left by the card before"));
    h = sim.CreateFileA("\\\\.\\PhysicalDrive4", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_TRUE(writeAt(sim, h, 0, mbr));
    sim.CloseHandle(h);
    EXPECT_EQ(sim.GetLogicalDrives(), (1u << 2) | (1u << 5) | (1u << 6) | (1u << 7));
    EXPECT_EQ(sim.volume('H').driveNumber, 4);
    EXPECT_EQ(sim.volumeRoot('H'), dir.file("own") + "/");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("own")));
}

}  // namespace
