#include "backend_conformance.h"

#include <cstring>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }

uint32_t seek(Platform& os, Handle handle, uint64_t offset) {
    int32_t high = static_cast<int32_t>(offset >> 32);
    return os.SetFilePointer(handle, static_cast<int32_t>(offset), &high, FILE_BEGIN);
}

}  // namespace

TEST_P(BackendConformance, MissingDriveAndClosedHandleAreRefused) {
    Platform& os = rig->os();
    EXPECT_EQ(os.CreateFileA(rig->missingDrive().c_str(), kReadWrite, kShared, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);

    Handle handle = os.CreateFileA(path.c_str(), kReadWrite, kShared, OPEN_EXISTING, 0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_TRUE(os.CloseHandle(handle));
    EXPECT_FALSE(os.CloseHandle(handle));
    EXPECT_EQ(os.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_P(BackendConformance, ShareModeZeroKeepsEveryOtherOpenerOut) {
    Platform& os = rig->os();
    Handle first = os.CreateFileA(path.c_str(), kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << os.GetLastError();
    for (uint32_t share : {0u, kShared}) {
        EXPECT_EQ(os.CreateFileA(path.c_str(), kReadWrite, share, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
        EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(os.CloseHandle(first));
    Handle again = os.CreateFileA(path.c_str(), kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_TRUE(os.CloseHandle(again));
}

// A handle without access rights only asks: it keeps no exclusive open out and
// an exclusive holder does not keep it out, it moves no sectors, and on a
// drive it answers IOCTL_STORAGE_CHECK_VERIFY2 with the media change count.
TEST_P(BackendConformance, HandleWithoutAccessRightsOnlyAsks) {
    Platform& os = rig->os();
    EXPECT_EQ(os.CreateFileA(rig->missingDrive().c_str(), 0, kShared, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_FILE_NOT_FOUND);
    const Handle ask = os.CreateFileA(path.c_str(), 0, kShared, OPEN_EXISTING, 0);
    ASSERT_NE(ask, INVALID_HANDLE_VALUE) << os.GetLastError();
    const Handle run = os.CreateFileA(path.c_str(), kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    EXPECT_NE(run, INVALID_HANDLE_VALUE) << os.GetLastError();
    const Handle again = os.CreateFileA(path.c_str(), 0, kShared, OPEN_EXISTING, 0);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << os.GetLastError();
    uint8_t sector[512] = {};
    uint32_t moved = 99;
    EXPECT_FALSE(os.ReadFile(ask, sector, 512, &moved));
    EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(moved, 0u);
    if (rig->noDiskIoctls().empty()) {
        uint8_t count[2][MEDIA_CHANGE_COUNT_SIZE] = {};
        for (int i = 0; i < 2; ++i) {
            uint32_t returned = 0;
            EXPECT_TRUE(os.DeviceIoControl(i == 0 ? ask : again, IOCTL_STORAGE_CHECK_VERIFY2, nullptr,
                                           0, count[i], MEDIA_CHANGE_COUNT_SIZE, &returned))
                << os.GetLastError();
            EXPECT_EQ(returned, MEDIA_CHANGE_COUNT_SIZE);
        }
        EXPECT_EQ(le32(count[0]), le32(count[1]));  // the medium stayed
    }
    for (const Handle handle : {again, run, ask}) EXPECT_TRUE(os.CloseHandle(handle));
}

// FlushFileBuffers needs a handle with write access.
TEST_P(BackendConformance, FlushNeedsWriteAccess) {
    Platform& os = rig->os();
    for (uint32_t access : {GENERIC_READ, kReadWrite}) {
        Handle handle = os.CreateFileA(path.c_str(), access, kShared, OPEN_EXISTING, 0);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << os.GetLastError();
        const bool writable = access == kReadWrite;
        EXPECT_EQ(os.FlushFileBuffers(handle), writable) << access;
        if (!writable) {
            EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
        }
        EXPECT_TRUE(os.CloseHandle(handle));
    }
}

TEST_P(BackendConformance, SectorsRoundTripAtBothEndsAndReadsStopAtTheEnd) {
    Platform& os = rig->os();
    Handle handle = os.CreateFileA(path.c_str(), kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << os.GetLastError();
    // Callers' buffers are not aligned; the backend must cope.
    std::vector<uint8_t> storage(513), back(515);
    uint8_t* out = storage.data() + 1;
    uint8_t* in = back.data() + 3;
    const uint64_t last = DRIVE_BYTES / 512 - 1;
    for (uint64_t lba : {uint64_t{0}, last}) {
        for (int i = 0; i < 512; ++i) out[i] = static_cast<uint8_t>(i * 3 + lba);
        EXPECT_EQ(seek(os, handle, lba * 512), static_cast<uint32_t>(lba * 512));
        uint32_t moved = 0;
        ASSERT_TRUE(os.WriteFile(handle, out, 512, &moved)) << os.GetLastError();
        EXPECT_EQ(moved, 512u);
        seek(os, handle, lba * 512);
        std::memset(in, 0, 512);
        ASSERT_TRUE(os.ReadFile(handle, in, 512, &moved)) << os.GetLastError();
        EXPECT_EQ(moved, 512u);
        EXPECT_EQ(std::memcmp(in, out, 512), 0) << "LBA " << lba;
    }
    // At the end a read succeeds and moves nothing.
    uint32_t moved = 99;
    seek(os, handle, DRIVE_BYTES);
    EXPECT_TRUE(os.ReadFile(handle, in, 512, &moved)) << os.GetLastError();
    EXPECT_EQ(moved, 0u);
    EXPECT_TRUE(os.CloseHandle(handle));
}

TEST_P(BackendConformance, GeometryRecordGivesSizeAndSectorSize) {
    if (!rig->noDiskIoctls().empty()) GTEST_SKIP() << rig->noDiskIoctls();
    Platform& os = rig->os();
    Handle handle = os.CreateFileA(path.c_str(), kReadWrite, kShared, OPEN_EXISTING, 0);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << os.GetLastError();
    std::vector<uint8_t> record(GEOMETRY_EX_MIN_SIZE + 8);
    uint32_t returned = 0;
    ASSERT_TRUE(os.DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                                   record.data(), static_cast<uint32_t>(record.size()), &returned))
        << os.GetLastError();
    EXPECT_GE(returned, GEOMETRY_EX_MIN_SIZE);
    EXPECT_EQ(le64(&record[GEOMETRY_EX_DISK_SIZE]), DRIVE_BYTES);
    EXPECT_EQ(le32(&record[GEOMETRY_EX_BYTES_PER_SECTOR]), 512u);
    EXPECT_TRUE(os.CloseHandle(handle));
}

TEST_P(BackendConformance, WithoutWriteRightsAnOpenForWritingIsRefused) {
    Platform& os = rig->os();
    const bool ran = rig->withoutWriteRights([&] {
        for (uint32_t share : {0u, kShared}) {
            EXPECT_EQ(os.CreateFileA(path.c_str(), kReadWrite, share, OPEN_EXISTING, 0),
                      INVALID_HANDLE_VALUE);
            EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
        }
        // Reading is still allowed, and that handle cannot write.
        Handle reader = os.CreateFileA(path.c_str(), GENERIC_READ, kShared, OPEN_EXISTING, 0);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE) << os.GetLastError();
        uint8_t sector[512] = {};
        uint32_t moved = 99;
        EXPECT_FALSE(os.WriteFile(reader, sector, 512, &moved));
        EXPECT_EQ(os.GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(moved, 0u);
        EXPECT_TRUE(os.CloseHandle(reader));
    });
    if (!ran) GTEST_SKIP() << "the rights to write the drive cannot be taken away here";
}

TEST_P(BackendConformance, LetterWithoutVolumeHasNoRootAndNoDevice) {
    Platform& os = rig->os();
    const char letter = rig->letterWithoutVolume();
    EXPECT_EQ(os.GetLogicalDrives() & (1u << (letter - 'A')), 0u);
    EXPECT_EQ(os.volumeRoot(letter), "");
    const char16_t name[3] = {static_cast<char16_t>(letter), u':', 0};
    char16_t target[256] = {};
    EXPECT_EQ(os.QueryDosDeviceW(name, target, 256), 0u);
    // Nor has a volume name that no volume carries.
    EXPECT_EQ(os.volumeNameRoot(u"\\\\?\\Volume{7a656c00-0000-0000-0000-000000000000}\\"), "");
}

// A named guard is held by one handle at a time, whoever asks (this process
// included), until that handle is closed; other names go on beside it.
TEST_P(BackendConformance, NamedGuardIsHeldOnceUntilClosed) {
    Platform& os = rig->os();
    const char16_t* first = u"Global\\ZelRecoveryDrive7";
    const char16_t* second = u"Global\\ZelRecoveryDrive8";
    const Handle held = os.CreateMutexW(first);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_EQ(os.CreateMutexW(first), INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_ALREADY_EXISTS);
    const Handle beside = os.CreateMutexW(second);
    EXPECT_NE(beside, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_TRUE(os.CloseHandle(held));
    const Handle again = os.CreateMutexW(first);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << os.GetLastError();
    EXPECT_TRUE(os.CloseHandle(again));
    EXPECT_TRUE(os.CloseHandle(beside));
}
