// inspect on a few hundred seeded mutations of a good card image: every run
// ends quickly, damage to what the boot needs byte for byte (the FATs, the
// boot code, stage 1.5) never passes as "card OK", and every report is the
// one recorded in inspect_reports.golden (ZEL_RECORD_INSPECT_REPORTS=1
// records them anew, for a change that means to change what inspect says).

#include "support/temp_dir.h"
#include "tools/card_commands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned CARD_SECTORS = 1000944;  // 16/63: boot volume at 256, data at 512064
constexpr uint64_t BOOT = 256ull * 512, DATA = 512064ull * 512;
constexpr int MUTATIONS = 200;

struct Region {
    uint64_t first, bytes;
    bool mustBeFound;  // any change here is damage inspect has to report
};

int inspect(const std::string& image, std::string& out, std::vector<std::string> more = {}) {
    std::ostringstream o, e;
    more.insert(more.begin(), {"inspect", image});
    const int status = runCard(more, o, e);
    out = o.str();
    return status;
}

// A short fingerprint of a report (64-bit FNV-1a), the same on every host.
std::string fingerprint(const std::string& text) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001B3ull;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return digits;
}

// The reports against the recorded ones, or recorded anew when asked.
void expectRecordedReports(const std::string& fingerprints) {
    const char* record = std::getenv("ZEL_RECORD_INSPECT_REPORTS");
    if (record != nullptr && std::string(record) == "1") {
        ASSERT_TRUE(writeWholeFile(ZEL_INSPECT_GOLDEN, fingerprints));
        return;
    }
    EXPECT_EQ(fingerprints, readWholeFile(ZEL_INSPECT_GOLDEN));
}

TEST(CardInspectFuzz, MutatedCardsEndInBoundedTimeAndDamagedFatsNeverPass) {
    if (!haveProgram("mcopy")) GTEST_SKIP() << "needs mtools to put the boot files on the card";
    TempDir dir;
    ASSERT_EQ(runCommand("mkdir -p " + dir.file("boot/grub")), 0);
    ASSERT_TRUE(writeWholeFile(dir.file("boot/grub/stage2"), std::string(9000, 's')));
    ASSERT_TRUE(writeWholeFile(dir.file("boot/grub/menu.lst"), "kernel /boot/bzImage\n"));
    ASSERT_TRUE(writeWholeFile(dir.file("boot/grub/fat_stage1_5"), std::string(5000, 'f')));
    ASSERT_TRUE(writeWholeFile(dir.file("fw"), std::string(40000, 'k')));
    const std::string image = dir.file("card.img");
    std::ostringstream built, error;
    ASSERT_EQ(runCard({"image", image, "--sectors", std::to_string(CARD_SECTORS), "--geometry",
                       "16/63", "--files", dir.file("boot"), "--firmware", dir.file("fw")},
                      built, error),
              0)
        << error.str();
    std::string out;
    ASSERT_EQ(inspect(image, out), 0) << out;

    // Boot volume: 1 reserved sector, FATs of 250 sectors, 32 root sectors,
    // 8-sector clusters. Data volume: FATs of 239 sectors.
    const std::vector<Region> regions = {
        {0, 432, true},                                // boot code (stage 1)
        {512, 17 * 512, true},                         // stage 1.5
        {BOOT, 90, false},                             // boot volume's boot sector
        {BOOT + 512, 256, true},                       // FAT copy 0, first entries
        {BOOT + 251 * 512, 256, true},                 // FAT copy 1
        {BOOT + 501 * 512, 512, false},                // root folder
        {BOOT + 533 * 512, 12 * 4096, false},          // boot/, grub/, the files
        {DATA, 90, false},                             // data volume's boot sector
        {DATA + 512, 64, true},                        // its FAT copy 0
        {DATA + 479 * 512, 512, false},                // its root folder
    };
    std::mt19937 random(20261208);
    std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
    int passed = 0;
    std::string fingerprints = "card " + fingerprint(out) + "\n";
    const auto mutate = [&](const std::vector<Region>& regions, int first, int count) {
        for (int i = first; i < first + count; ++i) {
            const Region& region = regions[random() % regions.size()];
            const uint64_t at = region.first + random() % region.bytes;
            const int length = 1 + static_cast<int>(random() % 4);
            std::string original(length, '\0'), changed(length, '\0');
            file.seekg(static_cast<std::streamoff>(at));
            file.read(&original[0], length);
            const int kind = static_cast<int>(random() % 3);
            for (int b = 0; b < length; ++b)
                changed[b] = kind == 0 ? static_cast<char>(random()) : kind == 1 ? '\xFF' : '\0';
            if (changed == original) continue;
            file.seekp(static_cast<std::streamoff>(at));
            file.write(changed.data(), length);
            file.flush();

            const auto start = std::chrono::steady_clock::now();
            const int status = inspect(image, out);
            const auto took = std::chrono::steady_clock::now() - start;
            EXPECT_LT(took, std::chrono::seconds(5)) << "mutation " << i << " at " << at;
            EXPECT_TRUE(status == 0 || status == 1) << status;
            const bool ok = out.size() >= 8 && out.compare(out.size() - 8, 8, "card OK\n") == 0;
            EXPECT_EQ(ok, status == 0);
            EXPECT_FALSE(region.mustBeFound && ok) << "mutation " << i << " at " << at;
            passed += ok;
            fingerprints += std::to_string(i) + " " + fingerprint(out) + "\n";

            file.seekp(static_cast<std::streamoff>(at));
            file.write(original.data(), length);
            file.flush();
        }
    };
    mutate(regions, 0, MUTATIONS);
    // Many mutations (time stamps, unused fields) are harmless; some must pass.
    EXPECT_GT(passed, 0);
    ASSERT_EQ(inspect(image, out), 0) << out;
    // The comparison with the payload: equal, then a firmware one byte off.
    const std::vector<std::string> payload = {"--files", dir.file("boot"), "--firmware", dir.file("fw")};
    inspect(image, out, payload);
    fingerprints += "payload " + fingerprint(out) + "\n";
    ASSERT_TRUE(writeWholeFile(dir.file("fw"), std::string(39999, 'k') + "x"));
    inspect(image, out, payload);
    fingerprints += "changed payload " + fingerprint(out) + "\n";

    // A FAT32 data volume: its boot sector, free-cluster summary, boot sector
    // copy, FAT and root folder.
    file.close();
    ASSERT_EQ(runCard({"format", image, "--partition", "1", "--fat", "32", "--cluster-bytes", "512",
                       "--label", "t6sc_data", "--geometry", "16/63"},
                      built, error),
              0)
        << error.str();
    ASSERT_EQ(inspect(image, out), 0) << out;
    fingerprints += "fat32 " + fingerprint(out) + "\n";
    file.open(image, std::ios::in | std::ios::out | std::ios::binary);
    std::string fatSectors(4, '\0');
    file.seekg(static_cast<std::streamoff>(DATA + 36));
    file.read(&fatSectors[0], 4);
    const uint64_t root = DATA + (32 + 2 * uint64_t(uint8_t(fatSectors[0]) |
                                                   uint8_t(fatSectors[1]) << 8 |
                                                   uint8_t(fatSectors[2]) << 16)) * 512;
    mutate({{DATA, 90, false},
            {DATA + 512, 512, false},
            {DATA + 6 * 512, 90, false},
            {DATA + 32 * 512, 64, true},
            {root, 64, false}},
           MUTATIONS, MUTATIONS / 4);
    expectRecordedReports(fingerprints);
}

}  // namespace
