// The Windows backend, as far as it can be exercised without a physical
// drive: missing drives, share modes and sector transfers on an image file,
// drive letters.

#include "platform/win32/win32_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

using namespace platform;

namespace {

constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr uint32_t FILE_CURRENT = 1;

TEST(Win32Platform, MissingPhysicalDriveFailsWithAReason) {
    Win32Platform os;
    Handle handle = os.CreateFileA("\\\\.\\PhysicalDrive15", kReadWrite, 0, OPEN_EXISTING,
                                   FILE_FLAG_NO_BUFFERING);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(os.GetLastError(), ERROR_SUCCESS);
}

TEST(Win32Platform, DriveLettersAndTheirRoots) {
    Win32Platform os;
    uint32_t mask = os.GetLogicalDrives();
    ASSERT_NE(mask, 0u);
    char16_t name[3] = {0, u':', 0};
    for (int i = 0; i < 26; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        name[0] = static_cast<char16_t>(u'A' + i);
        break;
    }
    std::vector<char16_t> target(1024, 0);
    EXPECT_NE(os.QueryDosDeviceW(name, target.data(), 1024), 0u);
    const char used = static_cast<char>(name[0]);
    EXPECT_EQ(os.volumeRoot(used), std::string(1, used) + ":\\");
    os.releaseVolumeRoots();
}

TEST(Win32Platform, ShareModeZeroKeepsOtherOpenersOut) {
    TempDir dir;
    std::string image = dir.file("drive.img");
    ASSERT_TRUE(makeSparseFile(image, 1 << 20));
    Win32Platform os;
    Handle first = os.CreateFileA(image.c_str(), kReadWrite, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.CreateFileA(image.c_str(), kReadWrite, kShared, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(os.CloseHandle(first));

    std::u16string wide(image.begin(), image.end());
    Handle shared = os.CreateFileW(wide.c_str(), kReadWrite, kShared, OPEN_EXISTING, 0);
    EXPECT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(os.CloseHandle(shared));
}

TEST(Win32Platform, SectorsRoundTripThroughUnalignedBuffers) {
    TempDir dir;
    std::string image = dir.file("drive.img");
    ASSERT_TRUE(makeSparseFile(image, 8388608ull * 512));
    Win32Platform os;
    Handle handle = os.CreateFileA(image.c_str(), kReadWrite, 0, OPEN_EXISTING,
                                   FILE_FLAG_NO_BUFFERING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    std::vector<uint8_t> storage(513), back(515);
    uint8_t* out = storage.data() + 1;
    uint8_t* in = back.data() + 3;
    // The highest LBA a 32-bit byte offset reaches; with no high part the low
    // part would be a negative distance.
    for (uint32_t lba : {0u, 8388607u}) {
        for (int i = 0; i < 512; ++i) out[i] = static_cast<uint8_t>(i * 5 + lba);
        int32_t high = 0;
        EXPECT_EQ(os.SetFilePointer(handle, static_cast<int32_t>(lba * 512), &high, FILE_BEGIN),
                  lba * 512);
        uint32_t transferred = 0;
        ASSERT_TRUE(os.WriteFile(handle, out, 512, &transferred)) << os.GetLastError();
        EXPECT_EQ(transferred, 512u);
        high = 0;
        EXPECT_EQ(os.SetFilePointer(handle, 0, &high, FILE_CURRENT), lba * 512 + 512);
        EXPECT_EQ(high, lba == 0 ? 0 : 1);  // the last sector ends exactly at 4 GiB

        high = 0;
        os.SetFilePointer(handle, static_cast<int32_t>(lba * 512), &high, FILE_BEGIN);
        std::memset(in, 0, 512);
        ASSERT_TRUE(os.ReadFile(handle, in, 512, &transferred)) << os.GetLastError();
        EXPECT_EQ(transferred, 512u);
        EXPECT_EQ(std::memcmp(in, out, 512), 0) << lba;
    }
    EXPECT_TRUE(os.CloseHandle(handle));

    std::ifstream file(image, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(8388607ull * 512));
    std::vector<char> last(512);
    file.read(last.data(), 512);
    EXPECT_EQ(std::memcmp(last.data(), out, 512), 0);
}

}  // namespace
