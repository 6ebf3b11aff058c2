#include "fat/fat_geometry.h"

#include "platform/sim_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct WorkedRow {
    uint32_t count;
    int type;
    uint32_t spc, fatSectors, rootSectors, totalSteps;
};

class FatGeometryWorkedValues : public testing::TestWithParam<WorkedRow> {};

TEST_P(FatGeometryWorkedValues, AutomaticModeGivesTheTabulatedGeometry)
{
    const WorkedRow row = GetParam();
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped(sim);
    FatGeometry g;
    ASSERT_TRUE(chooseFatGeometry(256, row.count, 0, 0, g));
    EXPECT_EQ(g.partitionStart, 256u);
    EXPECT_EQ(g.partitionSectors, row.count);
    EXPECT_EQ(g.fatType, row.type);
    EXPECT_EQ(g.sectorsPerCluster, row.spc);
    EXPECT_EQ(g.reservedSectors, row.type == 16 ? 1u : 32u);
    EXPECT_EQ(g.fatEntryBytes, row.type == 16 ? 2u : 4u);
    EXPECT_EQ(g.fatSectors, row.fatSectors);
    EXPECT_EQ(g.rootSectors, row.rootSectors);
    EXPECT_EQ(g.totalSteps, row.totalSteps);
    EXPECT_TRUE(sim.debugLines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, FatGeometryWorkedValues,
    testing::Values(WorkedRow{60000, 16, 1, 233, 32, 500}, WorkedRow{65536, 16, 1, 254, 32, 542},
                    WorkedRow{65537, 16, 2, 128, 32, 290}, WorkedRow{512000, 16, 8, 250, 32, 534},
                    WorkedRow{524295, 16, 8, 256, 32, 546},
                    WorkedRow{524296, 32, 8, 511, 8, 1063},
                    WorkedRow{7000000, 32, 8, 6823, 8, 13687},
                    WorkedRow{2147483656u, 32, 16, 1047553, 16, 2095155}));

class FatGeometryChoice : public testing::Test {
protected:
    bool choose(uint32_t count, int32_t type, uint32_t clusterBytes)
    {
        return chooseFatGeometry(0, count, type, clusterBytes, g);
    }
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped{sim};
    FatGeometry g;
};

TEST_F(FatGeometryChoice, AutomaticClusterSizeFollowsTheSizeBounds)
{
    // FAT16 doubles from 2 until the partition fits 65,536 units.
    ASSERT_TRUE(choose(131072, 0, 0));
    EXPECT_EQ(g.sectorsPerCluster, 2u);
    ASSERT_TRUE(choose(131074, 0, 0));
    EXPECT_EQ(g.sectorsPerCluster, 4u);
    // An explicit FAT16 request on a large partition keeps doubling.
    ASSERT_TRUE(choose(7000000, 16, 0));
    EXPECT_EQ(g.fatType, 16);
    EXPECT_EQ(g.sectorsPerCluster, 128u);
    // FAT32 on a smaller partition halves the cluster until 65,536 units remain.
    ASSERT_TRUE(choose(200000, 32, 0));
    EXPECT_EQ(g.sectorsPerCluster, 2u);
    ASSERT_TRUE(choose(65536, 32, 0));
    EXPECT_EQ(g.sectorsPerCluster, 1u);
    EXPECT_EQ(g.rootSectors, 1u);
    // The largest 32-bit partition still stays within 2^28 units.
    ASSERT_TRUE(choose(0xFFFFFFFFu, 0, 0));
    EXPECT_EQ(g.fatType, 32);
    EXPECT_EQ(g.sectorsPerCluster, 16u);
    EXPECT_TRUE(sim.debugLines().empty());
}

TEST_F(FatGeometryChoice, ExplicitClusterBytesDecideTheTypeWhenAutomatic)
{
    ASSERT_TRUE(choose(400000, 0, 4096));
    EXPECT_EQ(g.fatType, 16);
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    ASSERT_TRUE(choose(600000, 0, 4096));
    EXPECT_EQ(g.fatType, 32);
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    EXPECT_EQ(g.fatSectors, 585u);
    ASSERT_TRUE(choose(7000000, 0, 65536));
    EXPECT_EQ(g.fatType, 16);
    EXPECT_EQ(g.sectorsPerCluster, 128u);
    EXPECT_TRUE(sim.debugLines().empty());
}

// Requests whose volume the boot sector cannot describe, or that readers,
// which go by the cluster count, would take for another FAT type.
TEST_F(FatGeometryChoice, VolumesReadAsAnotherTypeAreRefused)
{
    struct Row {
        uint32_t count;
        int32_t type;
        uint32_t clusterBytes;
        const char* line;  // null: accepted
    };
    const Row rows[] = {
        {400000, 0, 1536, "Cluster size of 1536 bytes is not a power of two from 512 to 65536\n"},
        {400000, 0, 4096 + 511,
         "Cluster size of 4607 bytes is not a power of two from 512 to 65536\n"},
        {400000, 0, 131072,
         "Cluster size of 131072 bytes is not a power of two from 512 to 65536\n"},
        {400000, 0, 0xFFFFFFFFu,
         "Cluster size of 4294967295 bytes is not a power of two from 512 to 65536\n"},
        // FAT16 from 4,085 to 65,524 clusters, whichever way it was chosen.
        {4150, 16, 512, nullptr},
        {4149, 16, 512,
         "Cluster count 4084 does not make a FAT16 volume, sectors: 4149, sectorsPerCluster 1\n"},
        {4149, 0, 0,
         "Cluster count 4084 does not make a FAT16 volume, sectors: 4149, sectorsPerCluster 1\n"},
        {8387744, 16, 65536, nullptr},
        {8387745, 16, 65536,
         "Cluster count 65525 does not make a FAT16 volume, sectors: 8387745, "
         "sectorsPerCluster 128\n"},
        // An automatic FAT16 cluster stops at 128 sectors.
        {0xFFFFFFFFu, 16, 0,
         "Unable to find suitable sectors per cluster for FAT16, sectors: -1, "
         "sectorsPerCluster 65536\n"},
        // FAT32 with type and cluster size given needs 65,525 clusters; the
        // automatic choices keep their smaller FAT32 volumes.
        {66581, 32, 512, nullptr},
        {66580, 32, 512,
         "Cluster count 65524 does not make a FAT32 volume, sectors: 66580, sectorsPerCluster 1\n"},
        {66580, 32, 0, nullptr},
        {524296, 0, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.count) + " " + std::to_string(row.clusterBytes));
        sim.clearDebugLines();
        EXPECT_EQ(choose(row.count, row.type, row.clusterBytes), row.line == nullptr);
        const std::vector<std::string> expected =
            row.line == nullptr ? std::vector<std::string>{} : std::vector<std::string>{row.line};
        EXPECT_EQ(sim.debugLines(), expected);
    }
}

TEST_F(FatGeometryChoice, ImpossibleRequestsAreRefusedWithTheirLine)
{
    EXPECT_FALSE(choose(100000, 12, 0));
    EXPECT_FALSE(choose(100000, -1, 4096));
    EXPECT_FALSE(choose(100000, 16, 512));
    EXPECT_FALSE(choose(300000000, 32, 512));
    // Counts above 2^31 print as negative numbers.
    EXPECT_FALSE(choose(3000000000u, 16, 1024));
    const std::vector<std::string> expected = {
        "Unable to find suitable dist format: 12\n",
        "Unable to find suitable dist format: -1\n",
        "Unable to find suitable sectors per cluster for FAT16, sectors: 100000, "
        "sectorsPerCluster 1\n",
        "Unable to find suitable sectors per cluster for FAT32, sectors: 300000000, "
        "sectorsPerCluster 1\n",
        "Unable to find suitable sectors per cluster for FAT16, sectors: -1294967296, "
        "sectorsPerCluster 2\n",
    };
    EXPECT_EQ(sim.debugLines(), expected);
}

TEST_F(FatGeometryChoice, RequestsTheArithmeticCannotServeAreRefused)
{
    // A cluster below one sector would give zero sectors per cluster.
    EXPECT_FALSE(choose(100000, 0, 511));
    EXPECT_TRUE(choose(100000, 0, 512));
    // Automatic FAT32 clusters cannot shrink below one sector.
    EXPECT_FALSE(choose(65535, 32, 0));
    // The partition must hold the reserved region, both FATs and the root.
    EXPECT_FALSE(choose(33, 16, 512));
    EXPECT_FALSE(choose(34, 16, 512));  // 1 + 2 * 1 + 32 = 35 sectors needed
    EXPECT_FALSE(choose(64, 32, 512));
    EXPECT_FALSE(choose(0, 0, 0));
    // Nor may its sectors run past the last 32-bit address.
    EXPECT_FALSE(chooseFatGeometry(0xFFFFFF00u, 60000, 0, 0, g));
    EXPECT_TRUE(chooseFatGeometry(0xFFFFFFFFu - 500, 60000, 0, 0, g));
    const std::vector<std::string> expected = {
        "Cluster size of 511 bytes is below one sector\n",
        "Partition too small for FAT32 with automatic cluster size, sectors: 65535\n",
        "Partition too small for FAT16, sectors: 33\n",
        "Partition too small for FAT16, sectors: 34\n",
        "Partition too small for FAT32, sectors: 64\n",
        "Partition too small for FAT16, sectors: 0\n",
        "Partition at sector 4294967040 lies beyond the addressable sectors\n",
    };
    EXPECT_EQ(sim.debugLines(), expected);
}

// Every cluster of the data region needs its FAT entry; where the size rule
// already gives one, its FAT size stays as it was (cards made before keep
// their bytes). Sizes: the data partitions of cards that came out short, and
// a seeded spread over 64 MiB to 2 TiB, automatic and with asked-for clusters.
TEST(FatSizing, TheFatDescribesEveryClusterAndKeepsTheRuleWhereItDid)
{
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped(sim);
    struct Request {
        uint32_t count;
        int32_t type;
        uint32_t clusterBytes;
    };
    std::vector<Request> requests;
    for (uint32_t count : {10940265u, 562275u, 1735020u, 2345490u, 2955960u, 1487745u, 524296u,
                           7000000u, 0xFFFFFFFFu})
        requests.push_back({count, 0, 0});
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 600; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const uint32_t count = 131072u + static_cast<uint32_t>((state >> 32) % 0xFFFDFFFFull);
        const uint32_t clusterBytes = i % 3 == 0 ? 0 : 512u << ((state >> 8) % 8);
        requests.push_back({count, i % 3 == 0 ? 0 : 32, clusterBytes});
    }
    int grown = 0;
    for (const Request& r : requests) {
        FatGeometry g;
        if (!chooseFatGeometry(0, r.count, r.type, r.clusterBytes, g))
            continue;  // refused requests are another test's business
        SCOPED_TRACE(testing::Message() << r.count << " sectors, FAT" << g.fatType << ", spc "
                                        << g.sectorsPerCluster);
        const uint64_t entries = uint64_t(g.fatSectors) * 512 / g.fatEntryBytes;
        EXPECT_GE(entries, uint64_t(clusterCountOf(g)) + 2);
        const uint32_t ruled = fatSectorsFor(r.count, g.reservedSectors, g.fatEntryBytes,
                                             g.sectorsPerCluster);
        FatGeometry asRuled = g;
        asRuled.fatSectors = ruled;
        const bool ruleWasRight = uint64_t(ruled) * 512 / g.fatEntryBytes >=
                                  uint64_t(clusterCountOf(asRuled)) + 2;
        if (ruleWasRight)
            EXPECT_EQ(g.fatSectors, ruled);
        else
            EXPECT_LE(g.fatSectors - ruled, 1u) << "grown by more than needed";
        grown += ruleWasRight ? 0 : 1;
    }
    EXPECT_GT(grown, 5);  // the spread reaches sizes the rule got wrong
}

TEST(FatSectorsFor, UsesSixtyFourBitsForTheProduct)
{
    // (2^32 - 1 - 33) * 2 overflows 32 bits; the quotient does not.
    EXPECT_EQ(fatSectorsFor(0xFFFFFFFFu, 1, 2, 128), 131064u);
    EXPECT_EQ(fatSectorsFor(1000033, 1, 2, 1), 3876u);  // ceiling of 2,000,000 / 516
}

}  // namespace
