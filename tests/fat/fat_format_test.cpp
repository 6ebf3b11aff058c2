#include "fat/format_partition.h"
#include "fat/progress_tracker.h"
#include "fat_test_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr uint32_t S = 256;  // partition start used throughout

SectorBytes fromHex(const std::string& hex)
{
    SectorBytes bytes;
    std::istringstream in(hex);
    unsigned value;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

SectorBytes slice(const SectorBytes& s, size_t from, size_t length)
{
    return SectorBytes(s.begin() + from, s.begin() + from + length);
}

bool allZero(const SectorBytes& s, size_t from = 0, size_t to = 512)
{
    for (size_t i = from; i < to; ++i)
        if (s[i] != 0)
            return false;
    return true;
}

const SectorBytes stubCode =
    fromHex("0E 1F BE 5B 7C AC 22 C0 74 0B 56 B4 0E BB 07 00 CD 10 5E EB F0 32 E4 CD 16 CD 19 EB FE");
const std::string stubText =
    "This is not a bootable disk.  Please insert a bootable floppy and\r\n"
    "press any key to try again ... \r\n";

// The boot code area: code, text with its zero, zeros up to the signature.
void expectStubAt(const SectorBytes& boot, size_t at)
{
    EXPECT_EQ(slice(boot, at, 29), stubCode);
    EXPECT_EQ(std::string(boot.begin() + at + 29, boot.begin() + at + 29 + stubText.size()),
              stubText);
    EXPECT_TRUE(allZero(boot, at + 29 + stubText.size(), 0x1FE));
    EXPECT_EQ(boot[0x1FE], 0x55);
    EXPECT_EQ(boot[0x1FF], 0xAA);
}

// Records what the formatter tells its progress receiver and, with a machine
// to watch, the end of the last write request at each update.
struct RecordingReceiver : ProgressReceiver {
    explicit RecordingReceiver(const platform::SimPlatform* watched = nullptr) : sim(watched) {}
    void begin(uint32_t count, uint32_t delay) override
    {
        ++begins;
        beginCount = count;
        beginDelay = delay;
    }
    void update(uint32_t position) override
    {
        updates.push_back(position);
        if (sim == nullptr)
            return;
        for (auto it = sim->calls().rbegin(); it != sim->calls().rend(); ++it) {
            if (it->name == "WriteFile") {
                lastWrite.push_back({it->offset / 512, it->bytes / 512});
                return;
            }
        }
    }
    void end() override { ++ends; }
    int begins = 0, ends = 0;
    uint32_t beginCount = 0, beginDelay = 99;
    std::vector<uint32_t> updates;
    const platform::SimPlatform* sim;
    struct Request {
        uint64_t lba, sectors;
    };
    std::vector<Request> lastWrite;
};

// Each value v reports volume sector v - 2, and comes while the last write
// request is the one that covered that sector.
void expectEachUpdateFollowsItsRequest(const RecordingReceiver& progress, uint32_t start)
{
    ASSERT_EQ(progress.lastWrite.size(), progress.updates.size());
    for (size_t i = 0; i < progress.updates.size(); ++i) {
        const uint64_t lba = start + progress.updates[i] - 2;
        const auto& request = progress.lastWrite[i];
        ASSERT_TRUE(request.lba <= lba && lba < request.lba + request.sectors) << "update " << i;
    }
}

class FormatTest : public testing::Test {
protected:
    bool format(uint32_t index, int32_t type, uint32_t clusterBytes, const char* label,
                ProgressReceiver* progress = nullptr)
    {
        return formatPartition(disk->handle, disk->diskSectors, disk->heads,
                               disk->sectorsPerTrack, index, type, clusterBytes, label,
                               progress);
    }
    void makeDisk(uint64_t sectors, const std::vector<FatTestDisk::Entry>& entries)
    {
        disk.reset();  // its machine goes out of force before the next one comes in
        disk = std::make_unique<FatTestDisk>(sectors);
        disk->writeMbr(entries);
        ASSERT_TRUE(disk->open());
        disk->sim.clearCalls();
    }
    // The write requests as {first sector, sectors}, in the order they were
    // made, each checked to follow its own positioning.
    std::vector<std::pair<uint64_t, uint32_t>> writeRequests() const
    {
        std::vector<std::pair<uint64_t, uint32_t>> requests;
        const auto& calls = disk->sim.calls();
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].name != "WriteFile")
                continue;
            EXPECT_TRUE(i > 0 && calls[i - 1].name == "SetFilePointer" &&
                        calls[i - 1].offset == calls[i].offset);
            requests.emplace_back(calls[i].offset / 512, calls[i].bytes / 512);
        }
        return requests;
    }
    // The MBR, then the volume's `sectors` from S on in requests of 1 MiB.
    static std::vector<std::pair<uint64_t, uint32_t>> expectedRequests(uint32_t sectors)
    {
        std::vector<std::pair<uint64_t, uint32_t>> requests{{0, 1}};
        for (uint32_t n = 0; n < sectors; n += 2048)
            requests.emplace_back(S + n, std::min(sectors - n, 2048u));
        return requests;
    }
    std::unique_ptr<FatTestDisk> disk;
};

TEST_F(FormatTest, Fat16BootPartitionIsLaidDownByteForByte)
{
    makeDisk(S + 512000 + 64, {{S, 512000}, {S + 512000, 64}});
    const SectorBytes mbrBefore = disk->sector(0);
    for (uint32_t n : {533u, 534u, 100000u, 511999u})
        disk->putSector(S + n, FatTestDisk::pattern(static_cast<uint8_t>(n)));

    RecordingReceiver progress(&disk->sim);
    ASSERT_TRUE(format(0, 0, 0, "t6sc_boot", &progress));
    EXPECT_TRUE(disk->sim.debugLines().empty());

    const SectorBytes boot = disk->sector(S);
    EXPECT_EQ(slice(boot, 0, 0x3E),
              fromHex("EB 3C 90 4D 53 57 49 4E 34 2E 31 00 02 08 01 00 02 00 02 00 00 F8 FA 00"
                      " 3F 00 FF 00 00 00 00 00 00 D0 07 00 00 00 29 00 00 00 00"
                      " 74 36 73 63 5F 62 6F 6F 74 00 00 46 41 54 31 36 20 20 20"));
    expectStubAt(boot, 0x3E);

    // FAT copies at 1 and 251, root directory at 501..532, 250 sectors per FAT.
    const SectorBytes fat = disk->sector(S + 1);
    EXPECT_EQ(slice(fat, 0, 4), fromHex("F8 FF FF FF"));
    EXPECT_TRUE(allZero(fat, 4));
    EXPECT_EQ(disk->sector(S + 251), fat);
    SectorBytes root = disk->sector(S + 501);
    EXPECT_EQ(std::string(root.begin(), root.begin() + 11), std::string("t6sc_boot\0\0", 11));
    EXPECT_EQ(root[11], 0x08);
    EXPECT_TRUE(allZero(root, 12));
    for (uint32_t n = 2; n < 533; ++n) {
        if (n == 251 || n == 501)
            continue;
        ASSERT_TRUE(allZero(disk->sector(S + n))) << "sector " << n;
    }
    // The data area keeps what it held.
    for (uint32_t n : {533u, 534u, 100000u, 511999u})
        EXPECT_EQ(disk->sector(S + n), FatTestDisk::pattern(static_cast<uint8_t>(n)));

    // Only the type byte of the entry changed in the MBR.
    SectorBytes mbrExpected = mbrBefore;
    mbrExpected[446 + 4] = 0x06;
    EXPECT_EQ(disk->sector(0), mbrExpected);

    // The MBR, then all 533 volume sectors in one request.
    EXPECT_EQ(writeRequests(), expectedRequests(533));
    expectEachUpdateFollowsItsRequest(progress, S);

    EXPECT_EQ(progress.begins, 1);
    EXPECT_EQ(progress.beginCount, 534u);
    EXPECT_EQ(progress.beginDelay, 0u);
    ASSERT_EQ(progress.updates.size(), 533u);
    for (uint32_t k = 0; k < 533; ++k)
        ASSERT_EQ(progress.updates[k], k + 2);
    EXPECT_EQ(progress.ends, 1);
}

TEST_F(FormatTest, Fat32WorkedExample)
{
    const uint32_t first = S + 7000000;
    makeDisk(first + 1000, {{S, 7000000}, {first, 1000}});
    const SectorBytes mbrBefore = disk->sector(0);
    disk->putSector(S + 13686, FatTestDisk::pattern(1));

    RecordingReceiver progress(&disk->sim);
    ASSERT_TRUE(format(0, 0, 0, "t6sc_data", &progress));
    EXPECT_TRUE(disk->sim.debugLines().empty());

    const SectorBytes boot = disk->sector(S);
    EXPECT_EQ(slice(boot, 0, 0x5A),
              fromHex("EB 58 90 4D 53 57 49 4E 34 2E 31 00 02 08 20 00 02 00 00 00 00 F8 00 00"
                      " 3F 00 FF 00 00 00 00 00 C0 CF 6A 00 A7 1A 00 00 00 00 00 00 02 00 00 00"
                      " 01 00 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 29 00 00 00 00"
                      " 74 36 73 63 5F 64 61 74 61 00 00 46 41 54 33 32 20 20 20"));
    expectStubAt(boot, 0x5A);
    EXPECT_EQ(disk->sector(S + 6), boot);

    const SectorBytes fsInfo = disk->sector(S + 1);
    EXPECT_EQ(slice(fsInfo, 0, 4), fromHex("52 52 61 41"));
    EXPECT_TRUE(allZero(fsInfo, 4, 0x1E4));
    EXPECT_EQ(slice(fsInfo, 0x1E4, 4), fromHex("72 72 41 61"));
    EXPECT_EQ(le32(fsInfo, 0x1E8), 873289u);
    EXPECT_EQ(le32(fsInfo, 0x1EC), 3u);
    EXPECT_TRUE(allZero(fsInfo, 0x1F0, 0x1FC));
    EXPECT_EQ(slice(fsInfo, 0x1FC, 4), fromHex("00 00 55 AA"));
    EXPECT_EQ(disk->sector(S + 7), fsInfo);
    for (uint32_t n : {2u, 3u, 4u, 5u, 8u, 20u, 31u})
        EXPECT_TRUE(allZero(disk->sector(S + n))) << "reserved sector " << n;

    const SectorBytes fat = disk->sector(S + 32);
    EXPECT_EQ(slice(fat, 0, 12), fromHex("F8 FF FF 0F FF FF FF 0F FF FF FF 0F"));
    EXPECT_TRUE(allZero(fat, 12));
    EXPECT_EQ(disk->sector(S + 6855), fat);
    for (uint32_t n : {33u, 6854u, 6856u, 13677u})
        EXPECT_TRUE(allZero(disk->sector(S + n))) << "FAT sector " << n;

    const SectorBytes root = disk->sector(S + 13678);
    EXPECT_EQ(std::string(root.begin(), root.begin() + 12), std::string("t6sc_data\0\0\x08", 12));
    EXPECT_TRUE(allZero(root, 12));
    for (uint32_t n = 13679; n <= 13685; ++n)
        EXPECT_TRUE(allZero(disk->sector(S + n)));
    EXPECT_EQ(disk->sector(S + 13686), FatTestDisk::pattern(1));

    SectorBytes mbrExpected = mbrBefore;
    mbrExpected[446 + 4] = 0x0B;
    EXPECT_EQ(disk->sector(0), mbrExpected);

    EXPECT_EQ(writeRequests(), expectedRequests(13686));  // 7 requests and the MBR
    expectEachUpdateFollowsItsRequest(progress, S);
    EXPECT_EQ(progress.beginCount, 13687u);
    ASSERT_EQ(progress.updates.size(), 13686u);
    EXPECT_EQ(progress.updates.front(), 2u);
    EXPECT_EQ(progress.updates.back(), 13687u);
    EXPECT_EQ(progress.ends, 1);
}

TEST_F(FormatTest, SecondEntryIsFoundAndTypedWithoutTouchingTheFirst)
{
    makeDisk(S + 200000, {{S, 100000}, {S + 100000, 70000}});
    const SectorBytes mbrBefore = disk->sector(0);
    // An explicit FAT32 request on a small partition still gets type 0x0B.
    ASSERT_TRUE(format(1, 32, 512, "DATA"));
    SectorBytes mbrExpected = mbrBefore;
    mbrExpected[462 + 4] = 0x0B;
    EXPECT_EQ(disk->sector(0), mbrExpected);
    const SectorBytes boot = disk->sector(S + 100000);
    EXPECT_EQ(boot[0x0D], 1);
    EXPECT_TRUE(allZero(disk->sector(S)));  // the first partition is not touched
}

TEST_F(FormatTest, LabelsAreCutAndPaddedWithZeros)
{
    makeDisk(S + 60000, {{S, 60000}});
    struct Case {
        const char* label;
        std::string bootField;
        bool rootEntry;
    };
    const Case cases[] = {
        {"", std::string(11, '\0'), false},
        {"           ", std::string(11, ' '), false},
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJK", true},
        {"ABCDEFGHIJK", "ABCDEFGHIJK", true},
        {"a b", std::string("a b\0\0\0\0\0\0\0\0", 11), true},
        // A multi-byte character that would not fit whole stays out.
        {"ABCDEFGHIJ\xC3\xA9", std::string("ABCDEFGHIJ\0", 11), true},
        {"ABCDEFGHI\xE2\x82\xAC", std::string("ABCDEFGHI\0\0", 11), true},
        {"ABCDEFGHIJ\xF0\x9F\x98\x80", std::string("ABCDEFGHIJ\0", 11), true},
        {"ABCDEFGH\xE2\x82\xAC", "ABCDEFGH\xE2\x82\xAC", true},
        // Bytes that are not UTF-8 are cut where they stand.
        {"ABCDEFGHIJ\xBF\xBF", "ABCDEFGHIJ\xBF", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(format(0, 0, 0, c.label));
        const SectorBytes boot = disk->sector(S);
        EXPECT_EQ(std::string(boot.begin() + 0x2B, boot.begin() + 0x36), c.bootField);
        EXPECT_EQ(std::string(boot.begin() + 0x36, boot.begin() + 0x3E), "FAT16   ");
        const SectorBytes root = disk->sector(S + 467);
        if (c.rootEntry) {
            EXPECT_EQ(std::string(root.begin(), root.begin() + 11), c.bootField);
            EXPECT_EQ(root[11], 0x08);
            EXPECT_TRUE(allZero(root, 12));
        } else {
            EXPECT_TRUE(allZero(root));
        }
    }
}

TEST_F(FormatTest, SmallVolumesCarryTheirSizeInTheSixteenBitField)
{
    makeDisk(S + 65536, {{S, 65535}});
    // diskSectors is carried along only: a wrong value changes nothing.
    ASSERT_TRUE(formatPartition(disk->handle, 0, 16, 32, 0, 0, 0, "X", nullptr));
    SectorBytes boot = disk->sector(S);
    EXPECT_EQ(le16(boot, 0x13), 65535u);
    EXPECT_EQ(le32(boot, 0x20), 0u);
    EXPECT_EQ(le16(boot, 0x18), 32u);
    EXPECT_EQ(le16(boot, 0x1A), 16u);

    disk->writeMbr({{S, 65536}});
    ASSERT_TRUE(format(0, 0, 0, "X"));
    boot = disk->sector(S);
    EXPECT_EQ(le16(boot, 0x13), 0u);
    EXPECT_EQ(le32(boot, 0x20), 65536u);

    // A FAT32 volume under 65,536 sectors is too small to be read as FAT32.
    disk->writeMbr({{S, 65535}});
    EXPECT_FALSE(format(0, 32, 512, "X"));
    EXPECT_EQ(disk->sector(S), boot);
}

TEST_F(FormatTest, RefusedRequestsWriteNothing)
{
    makeDisk(S + 100000, {{S, 100000}, {S + 100000, 0}});
    const SectorBytes mbrBefore = disk->sector(0);
    RecordingReceiver progress;
    EXPECT_FALSE(format(0, 12, 0, "X", &progress));
    EXPECT_FALSE(format(0, 16, 512, "X", &progress));
    EXPECT_FALSE(format(0, 0, 256, "X", &progress));
    EXPECT_FALSE(format(1, 0, 0, "X", &progress));  // empty entry
    EXPECT_FALSE(format(4, 0, 0, "X", &progress));
    const std::vector<std::string> expected = {
        "Unable to find suitable dist format: 12\n",
        "Unable to find suitable sectors per cluster for FAT16, sectors: 100000, "
        "sectorsPerCluster 1\n",
        "Cluster size of 256 bytes is below one sector\n",
        "Partition too small for FAT16, sectors: 0\n",
        "Invalid partition index 4\n",
    };
    EXPECT_EQ(disk->sim.debugLines(), expected);
    EXPECT_EQ(disk->sim.writeCount(), 0u);
    EXPECT_EQ(disk->sector(0), mbrBefore);
    EXPECT_EQ(progress.begins + progress.ends, 0);
}

TEST_F(FormatTest, FailedReadOfTheMbrWritesNothing)
{
    makeDisk(S + 60000, {{S, 60000}});
    disk->sim.faults().failReadAtLba.insert(0);
    EXPECT_FALSE(format(0, 0, 0, "X"));
    disk->sim.faults().failReadAtLba.clear();
    disk->sim.faults().shortReadAtLba.insert(0);
    EXPECT_FALSE(format(0, 0, 0, "X"));
    const std::vector<std::string> expected = {"Unable to read sector 0: 30\n",
                                               "Short read of sector 0: 256 bytes\n"};
    EXPECT_EQ(disk->sim.debugLines(), expected);
    EXPECT_EQ(disk->sim.writeCount(), 0u);
}

// Fails every write request from the n-th on and checks the format stops
// right there, with the first sector of that request in the debug line and
// progress up to the sectors of the requests before it.
void expectFailureAtEachRequest(FatTestDisk& disk, int32_t type, uint32_t clusterBytes,
                                uint32_t totalSteps)
{
    const uint32_t volume = totalSteps - 1;
    const uint32_t requests = 1 + (volume + 2047) / 2048;
    for (uint32_t n = 0; n < requests; ++n) {
        SCOPED_TRACE("failing request " + std::to_string(n));
        disk.sim.clearDebugLines();
        disk.sim.clearCalls();
        const uint64_t before = disk.sim.writeCount();
        disk.sim.faults().failWritesAfter = static_cast<int64_t>(before + n);
        RecordingReceiver progress;
        ASSERT_FALSE(formatPartition(disk.handle, disk.diskSectors, disk.heads,
                                     disk.sectorsPerTrack, 0, type, clusterBytes, "X",
                                     &progress));
        const uint32_t lba = n == 0 ? 0 : S + (n - 1) * 2048;
        ASSERT_EQ(disk.sim.debugLines(),
                  std::vector<std::string>{"Unable to write sector " + std::to_string(lba) +
                                           ": 29\n"});
        ASSERT_EQ(disk.sim.writeCount(), before + n + 1);  // nothing after the failure
        ASSERT_EQ(progress.begins, n == 0 ? 0 : 1);
        ASSERT_EQ(progress.ends, progress.begins);
        ASSERT_EQ(progress.updates.size(), n == 0 ? 0u : (n - 1) * 2048);
    }
    // Without a fault the same format makes exactly that many requests.
    disk.sim.faults().failWritesAfter = -1;
    const uint64_t before = disk.sim.writeCount();
    ASSERT_TRUE(formatPartition(disk.handle, disk.diskSectors, disk.heads, disk.sectorsPerTrack,
                                0, type, clusterBytes, "X", nullptr));
    EXPECT_EQ(disk.sim.writeCount() - before, requests);
}

TEST_F(FormatTest, AFaultAtAnyRequestEndsTheFormat)
{
    // The smallest FAT16 volume (4,085 clusters, 16 sectors per FAT): one
    // request for the volume. FAT32 with 3,876 sectors per FAT and 1 KiB
    // clusters, whose 7,786 sectors take four.
    makeDisk(S + 65536, {{S, 4150}});
    expectFailureAtEachRequest(*disk, 16, 512, 66);
    makeDisk(S + 1000000, {{S, 1000000}});
    expectFailureAtEachRequest(*disk, 32, 1024, 7787);
}

TEST_F(FormatTest, ShortWritesEndTheFormat)
{
    makeDisk(S + 60000, {{S, 60000}});
    // The volume's one request stops half way into its second sector.
    disk->sim.faults().shortWriteAtLba.insert(S + 1);
    EXPECT_FALSE(format(0, 0, 0, "X"));
    EXPECT_EQ(disk->sim.debugLines(),
              std::vector<std::string>{"Short write of sector 256: 768 bytes\n"});
    EXPECT_EQ(disk->sim.writeCount(), 2u);
    disk->sim.faults().shortWriteAtLba.clear();

    // A partition entry that runs past the end of the drive.
    disk->sim.clearDebugLines();
    disk->writeMbr({{S + 59900, 60000}});
    EXPECT_FALSE(format(0, 0, 0, "X"));
    EXPECT_EQ(disk->sim.debugLines(),
              std::vector<std::string>{"Short write of sector 60156: 51200 bytes\n"});
}

// Passes everything to the simulated machine but refuses one positioning.
class SeekFault : public platform::Platform {
public:
    SeekFault(platform::SimPlatform& sim, int failAt, bool misplace)
        : sim_(sim), failAt_(failAt), misplace_(misplace)
    {
    }
    uint32_t SetFilePointer(platform::Handle h, int32_t low, int32_t* high, uint32_t m) override
    {
        if (seeks_++ != failAt_)
            return sim_.SetFilePointer(h, low, high, m);
        if (misplace_)  // lands somewhere else without reporting an error
            return sim_.SetFilePointer(h, 0, high, m);
        failed_ = true;
        return platform::INVALID_SET_FILE_POINTER;
    }
    uint32_t GetLastError() override { return failed_ ? platform::ERROR_SEEK : sim_.GetLastError(); }
    platform::Handle CreateFileA(const char* p, uint32_t a, uint32_t s, uint32_t d,
                                 uint32_t f) override
    {
        return sim_.CreateFileA(p, a, s, d, f);
    }
    platform::Handle CreateFileW(const char16_t* p, uint32_t a, uint32_t s, uint32_t d,
                                 uint32_t f) override
    {
        return sim_.CreateFileW(p, a, s, d, f);
    }
    bool DeviceIoControl(platform::Handle h, uint32_t c, const void* i, uint32_t is, void* o,
                         uint32_t os, uint32_t* r) override
    {
        return sim_.DeviceIoControl(h, c, i, is, o, os, r);
    }
    bool ReadFile(platform::Handle h, void* b, uint32_t n, uint32_t* t) override
    {
        return sim_.ReadFile(h, b, n, t);
    }
    bool WriteFile(platform::Handle h, const void* b, uint32_t n, uint32_t* t) override
    {
        return sim_.WriteFile(h, b, n, t);
    }
    bool FlushFileBuffers(platform::Handle h) override { return sim_.FlushFileBuffers(h); }
    bool CloseHandle(platform::Handle h) override { return sim_.CloseHandle(h); }
    platform::Handle CreateMutexW(const char16_t* n) override { return sim_.CreateMutexW(n); }
    uint32_t GetLogicalDrives() override { return sim_.GetLogicalDrives(); }
    uint32_t QueryDosDeviceW(const char16_t* d, char16_t* t, uint32_t m) override
    {
        return sim_.QueryDosDeviceW(d, t, m);
    }
    platform::Handle FindFirstVolumeW(char16_t* n, uint32_t m) override
    {
        return sim_.FindFirstVolumeW(n, m);
    }
    bool FindNextVolumeW(platform::Handle h, char16_t* n, uint32_t m) override
    {
        return sim_.FindNextVolumeW(h, n, m);
    }
    bool FindVolumeClose(platform::Handle h) override { return sim_.FindVolumeClose(h); }
    std::string volumeRoot(char letter) override { return sim_.volumeRoot(letter); }
    std::string volumeNameRoot(const char16_t* n) override { return sim_.volumeNameRoot(n); }
    void releaseVolumeRoots() override { sim_.releaseVolumeRoots(); }
    platform::DeviceNode deviceNode(const std::string& p) override { return sim_.deviceNode(p); }
    void OutputDebugStringA(const char* text) override { sim_.OutputDebugStringA(text); }
    uint64_t GetTickCount64() override { return sim_.GetTickCount64(); }
    void Sleep(uint32_t ms) override { sim_.Sleep(ms); }

private:
    platform::SimPlatform& sim_;
    int failAt_;
    bool misplace_;
    int seeks_ = 0;
    bool failed_ = false;
};

TEST_F(FormatTest, EveryPositioningIsChecked)
{
    makeDisk(S + 60000, {{S, 60000}});
    const SectorBytes mbrBefore = disk->sector(0);
    {
        // The read of the MBR is the first positioning: nothing gets written.
        SeekFault fault(disk->sim, 0, false);
        platform::ScopedPlatform scoped(fault);
        EXPECT_FALSE(format(0, 0, 0, "X"));
    }
    EXPECT_EQ(disk->sim.writeCount(), 0u);
    {
        // Read, write and read-back of the MBR, then the volume's request.
        SeekFault fault(disk->sim, 3, false);
        platform::ScopedPlatform scoped(fault);
        EXPECT_FALSE(format(0, 0, 0, "X"));
    }
    EXPECT_EQ(disk->sim.writeCount(), 1u);
    {
        // A positioning that lands elsewhere must not let the volume's
        // sectors overwrite the MBR.
        SeekFault fault(disk->sim, 3, true);
        platform::ScopedPlatform scoped(fault);
        EXPECT_FALSE(format(0, 0, 0, "X"));
    }
    EXPECT_EQ(disk->sim.writeCount(), 2u);
    SectorBytes mbrExpected = mbrBefore;
    mbrExpected[446 + 4] = 0x06;
    EXPECT_EQ(disk->sector(0), mbrExpected);
    const std::vector<std::string> expected = {"Unable to position at sector 0: 25\n",
                                               "Unable to position at sector 256: 25\n",
                                               "Unable to position at sector 256: 0\n"};
    EXPECT_EQ(disk->sim.debugLines(), expected);
}

TEST_F(FormatTest, ATrackerSeesTheWholeFormatAsOneLevel)
{
    makeDisk(S + 60000, {{S, 60000}});
    std::vector<std::pair<uint32_t, uint32_t>> reports;
    int shows = 0;
    struct Sink {
        std::vector<std::pair<uint32_t, uint32_t>>* reports;
        int* shows;
    } sink{&reports, &shows};
    ProgressTracker tracker(
        [](uint32_t done, uint32_t total, void* user) {
            static_cast<Sink*>(user)->reports->emplace_back(done, total);
        },
        [](uint32_t*, uint32_t*, void* user) { ++*static_cast<Sink*>(user)->shows; }, &sink);
    ASSERT_TRUE(format(0, 0, 0, "t6sc_boot", &tracker));
    ASSERT_EQ(reports.size(), 500u);
    EXPECT_EQ(reports.front(), std::make_pair(0u, 500u));
    for (uint32_t k = 2; k < 500; ++k)
        ASSERT_EQ(reports[k - 1], std::make_pair(k, 500u));
    EXPECT_EQ(reports.back(), std::make_pair(500u, 500u));
    EXPECT_EQ(shows, 1);
    EXPECT_TRUE(tracker.levels.empty());
}

}  // namespace
