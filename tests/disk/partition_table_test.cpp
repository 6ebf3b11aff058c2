#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

const int32_t CARD_LAYOUT[] = {sizeInKiB(256000), 100, 0, 0};

struct Entry {
    std::array<uint8_t, 16> raw;
    uint32_t first() const { return raw[8] | raw[9] << 8 | raw[10] << 16 | uint32_t(raw[11]) << 24; }
    uint32_t count() const { return raw[12] | raw[13] << 8 | raw[14] << 16 | uint32_t(raw[15]) << 24; }
    std::array<uint8_t, 3> startChs() const { return {raw[1], raw[2], raw[3]}; }
    std::array<uint8_t, 3> endChs() const { return {raw[5], raw[6], raw[7]}; }
};

std::vector<uint8_t> readImage(const std::string& path, uint64_t offset, size_t bytes) {
    std::vector<uint8_t> data(bytes);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(bytes));
    return data;
}

Entry entryOf(const std::vector<uint8_t>& mbr, int i) {
    Entry e;
    std::memcpy(e.raw.data(), mbr.data() + 446 + 16 * i, 16);
    return e;
}

// Opens drive 1 of the card and writes the given size list.
bool partition(SimCard& /*card: installs the backend*/, const int32_t* list, uint32_t* sectorsOut = nullptr) {
    platform::Handle handle;
    uint32_t sectors, heads, spt;
    if (!openPhysicalDrive("\\\\.\\PhysicalDrive1", handle, sectors, heads, spt)) return false;
    const bool ok = writePartitionTable(handle, sectors, heads, spt, list);
    releaseDisk(handle);
    if (sectorsOut != nullptr) *sectorsOut = sectors;
    return ok;
}

// sfdisk is not there in the Windows build: its checks are then left out.
bool haveSfdisk() {
    static const bool present = haveProgram("sfdisk");
    return present;
}

// sfdisk's own reading of the table: "start size type" per entry.
std::string sfdiskEntries(const std::string& image) {
    std::string output;
    if (!haveSfdisk()) return "";
    if (runCommand("sfdisk --dump '" + image + "' | grep '^/' | sed 's/.*start= *\\([0-9]*\\), size= *\\([0-9]*\\), type=\\([0-9a-f]*\\).*/\\1 \\2 \\3/'",
                   &output) != 0)
        return "sfdisk failed: " + output;
    return output;
}

TEST(PartitionTable, CardLayoutOnFourGigabyteGeometry) {
    SimCard card(7813120ull * 512, 255, 63);
    ASSERT_TRUE(partition(card, CARD_LAYOUT));
    const auto mbr = readImage(card.image, 0, 512);
    const Entry boot = entryOf(mbr, 0), data = entryOf(mbr, 1);
    EXPECT_EQ(boot.first(), 256u);
    EXPECT_EQ(boot.count(), 513824u);
    EXPECT_EQ(boot.startChs(), (std::array<uint8_t, 3>{0x04, 0x05, 0x00}));
    EXPECT_EQ(boot.endChs(), (std::array<uint8_t, 3>{0xFE, 0x3F, 0x1F}));
    EXPECT_EQ(data.first(), 514080u);
    EXPECT_EQ(data.count(), 7293510u);
    EXPECT_EQ(data.startChs(), (std::array<uint8_t, 3>{0x00, 0x01, 0x20}));
    EXPECT_EQ(data.endChs(), (std::array<uint8_t, 3>{0xFE, 0x7F, 0xE5}));
    EXPECT_EQ(boot.raw[0], 0);
    EXPECT_EQ(boot.raw[4], 0);
    EXPECT_EQ(data.raw[0], 0);
    EXPECT_EQ(data.raw[4], 0);
    EXPECT_EQ(std::vector<uint8_t>(mbr.begin() + 478, mbr.begin() + 510), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    EXPECT_EQ(std::vector<uint8_t>(mbr.begin(), mbr.begin() + 440), std::vector<uint8_t>(440, 0));
    EXPECT_EQ(mbr[444], 0);
    EXPECT_EQ(mbr[445], 0);
    // Signature: two 15-bit draws, bits 15 and 31 clear.
    EXPECT_EQ(mbr[441] & 0x80, 0);
    EXPECT_EQ(mbr[443] & 0x80, 0);
    if (haveSfdisk()) {
        EXPECT_EQ(sfdiskEntries(card.image), "256 513824 0\n514080 7293510 0\n");
    }
}

TEST(PartitionTable, CardLayoutOnSixteenHeadGeometryRoundsDown) {
    SimCard card(1000944ull * 512, 16, 63);
    ASSERT_TRUE(partition(card, CARD_LAYOUT));
    const auto mbr = readImage(card.image, 0, 512);
    const Entry boot = entryOf(mbr, 0), data = entryOf(mbr, 1);
    EXPECT_EQ(boot.first(), 256u);
    EXPECT_EQ(boot.count(), 511808u);
    EXPECT_EQ(boot.startChs(), (std::array<uint8_t, 3>{0x04, 0x05, 0x00}));
    EXPECT_EQ(boot.endChs(), (std::array<uint8_t, 3>{0x0F, 0x7F, 0xFB}));
    EXPECT_EQ(data.first(), 512064u);
    EXPECT_EQ(data.count(), 488880u);
    EXPECT_EQ(data.startChs(), (std::array<uint8_t, 3>{0x00, 0x41, 0xFC}));
    EXPECT_EQ(data.endChs(), (std::array<uint8_t, 3>{0x0F, 0xFF, 0xE0}));
    if (haveSfdisk()) {
        EXPECT_EQ(sfdiskEntries(card.image), "256 511808 0\n512064 488880 0\n");
    }
}

// The writer clears the rest of the first track and, where the card held a
// GPT (either header found), both its copies; every other sector keeps its
// bytes, and a card without a GPT gets no write beyond the first track.
TEST(PartitionTable, ClearsTheFirstTrackAndAnOldGptOnly) {
    struct Case {
        const char* name;
        uint32_t sectorsPerTrack;
        bool primaryHeader, backupHeader;
    };
    const Case cases[] = {
        {"no GPT", 63, false, false},
        {"GPT", 63, true, true},
        {"backup header only", 63, false, true},
        {"primary header only, track shorter than the GPT", 16, true, false},
    };
    const uint64_t sectors = 1ull << 21;
    const auto filled = [](uint64_t count) { return std::vector<uint8_t>(count * 512, 0x5A); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimCard card(sectors * 512, 255, c.sectorsPerTrack);
        {
            std::fstream out(card.image, std::ios::binary | std::ios::in | std::ios::out);
            const std::vector<uint8_t> junk = filled(300);
            out.write(reinterpret_cast<const char*>(junk.data()), 300 * 512);
            out.seekp(static_cast<std::streamoff>((sectors - 40) * 512));
            out.write(reinterpret_cast<const char*>(junk.data()), 40 * 512);
            if (c.primaryHeader) out.seekp(512).write("EFI PART", 8);
            if (c.backupHeader) out.seekp(static_cast<std::streamoff>((sectors - 1) * 512)).write("EFI PART", 8);
        }
        ASSERT_TRUE(partition(card, CARD_LAYOUT));
        const bool gpt = c.primaryHeader || c.backupHeader;
        const uint32_t head = gpt ? std::max<uint32_t>(c.sectorsPerTrack, 34) : c.sectorsPerTrack;
        EXPECT_EQ(readImage(card.image, 512, (head - 1) * 512), std::vector<uint8_t>((head - 1) * 512, 0));
        EXPECT_EQ(readImage(card.image, head * 512, (256 - head) * 512), filled(256 - head));
        EXPECT_EQ(readImage(card.image, (sectors - 40) * 512, 7 * 512), filled(7));
        EXPECT_EQ(readImage(card.image, (sectors - 33) * 512, 33 * 512),
                  gpt ? std::vector<uint8_t>(33 * 512, 0) : filled(33));
        EXPECT_EQ(card.sim.writeCount(), gpt ? 2u : 1u);
    }
}

TEST(PartitionTable, UnusualGeometriesAndLists) {
    {   // 300 sectors per track moves the first partition's start to 300.
        SimCard card(2ull << 30, 4, 300);
        ASSERT_TRUE(partition(card, CARD_LAYOUT));
        EXPECT_EQ(entryOf(readImage(card.image, 0, 512), 0).first(), 300u);
    }
    {   // A list that starts with 0: signature and 55 AA, no entries, track cleared.
        SimCard card(64ull << 20);
        const int32_t empty[] = {0};
        ASSERT_TRUE(partition(card, empty));
        const auto mbr = readImage(card.image, 0, 512);
        EXPECT_EQ(std::vector<uint8_t>(mbr.begin() + 446, mbr.begin() + 510), std::vector<uint8_t>(64, 0));
        EXPECT_EQ(mbr[510], 0x55);
        EXPECT_EQ(mbr[511], 0xAA);
        EXPECT_EQ(sfdiskEntries(card.image), "");
    }
    {   // Five entries: only four are used.
        SimCard card(1ull << 30);
        const int32_t five[] = {10, 10, 10, 10, 10, 0};
        ASSERT_TRUE(partition(card, five));
        const auto mbr = readImage(card.image, 0, 512);
        for (int i = 0; i < 4; ++i) EXPECT_NE(entryOf(mbr, i).count(), 0u) << i;
        std::string lines = sfdiskEntries(card.image);
        if (haveSfdisk()) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
        }
    }
    {   // 100 percent on a disk of whole cylinders ends on its last sector.
        const uint64_t sectors = 500ull * 255 * 63;
        SimCard card(sectors * 512);
        const int32_t all[] = {100, 0};
        ASSERT_TRUE(partition(card, all));
        const Entry e = entryOf(readImage(card.image, 0, 512), 0);
        EXPECT_EQ(e.first() + e.count(), sectors);
    }
}

TEST(PartitionTable, CylindersPastTenTwentyThreeWrap) {
    // 32 GB card with 255/63: the data partition ends near cylinder 3,900.
    const uint64_t sectors = 62521344;
    SimCard card(sectors * 512);
    ASSERT_TRUE(partition(card, CARD_LAYOUT));
    const Entry data = entryOf(readImage(card.image, 0, 512), 1);
    const uint32_t last = data.first() + data.count() - 1;
    const uint32_t cylinder = last / (255 * 63);
    ASSERT_GT(cylinder, 1023u);
    EXPECT_EQ(data.raw[7], cylinder & 0xFF);
    EXPECT_EQ(data.raw[6] & 0xC0, (cylinder >> 2) & 0xC0);
    EXPECT_EQ(data.raw[6] & 0x3F, 63);
    EXPECT_EQ(data.first(), 514080u);
    const ChsBytes chs = chsOf(1024u * 255 * 63, 255, 63);
    EXPECT_EQ(chs.cylinder, 0);
    EXPECT_EQ(chs.sector, 1);
    EXPECT_EQ(chs.head, 0);
}

TEST(PartitionTable, RefusesImpossibleLayoutsWithoutWriting) {
    const uint64_t patternBytes = 64 * 512;
    auto untouched = [&](const SimCard& card) {
        return readImage(card.image, 0, patternBytes) == std::vector<uint8_t>(patternBytes, 0);
    };
    {   // Too small for the card: the data partition would get no sectors.
        SimCard card(500000ull * 512);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_TRUE(untouched(card));
        EXPECT_EQ(card.sim.debugLines().back(), "Disk of 500000 sectors is too small for the partition layout\n");
    }
    {   // Smaller than one cylinder past the start.
        SimCard card(10000ull * 512);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_TRUE(untouched(card));
    }
    {
        SimCard card(64ull << 20, 0, 63);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_TRUE(untouched(card));
        EXPECT_EQ(card.sim.debugLines().back(), "Cannot partition a disk with 0 heads and 63 sectors per track\n");
    }
    {
        SimCard card(64ull << 20, 255, 0);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_TRUE(untouched(card));
    }
}

TEST(PartitionTable, FailedWritesAreNeverSuccess) {
    {
        SimCard card(1ull << 30);
        card.sim.faults().failWriteAtLba.insert(0);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_EQ(card.sim.writeCount(), 1u);  // the track goes in one request
    }
    {
        SimCard card(1ull << 30);
        card.sim.faults().shortWriteAtLba.insert(40);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
    }
    {
        // A track longer than one request: the last sector is in the second.
        SimCard card(1ull << 30, 255, 2100);
        card.sim.faults().failWriteAtLba.insert(2099);
        EXPECT_FALSE(partition(card, CARD_LAYOUT));
        EXPECT_EQ(card.sim.writeCount(), 2u);
    }
}

TEST(PartitionTable, SignatureChangesBetweenSeconds) {
    SimCard card(1ull << 30);
    ASSERT_TRUE(partition(card, CARD_LAYOUT));
    const auto first = readImage(card.image, 440, 4);
    // rand() seeded from the clock: wait for the next second.
    const auto start = std::time(nullptr);
    while (std::time(nullptr) == start) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(partition(card, CARD_LAYOUT));
    const auto second = readImage(card.image, 440, 4);
    EXPECT_NE(first, second);
    EXPECT_EQ(second[1] & 0x80, 0);
    EXPECT_EQ(second[3] & 0x80, 0);
}

}  // namespace
