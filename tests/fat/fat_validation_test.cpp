// Formats partitions and whole cards on simulated drives and has fsck.fat
// and mtools read the results.

#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/fat_geometry.h"
#include "fat/format_partition.h"
#include "fat_test_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t FAT32_MIN_CLUSTERS = 65525;

// Clusters of the data area; FAT32's root directory is its first cluster.
uint32_t dataClusters(const FatGeometry& g)
{
    const uint32_t dataStart = g.fatType == 32 ? g.rootStart() : g.metadataSectors();
    return (g.partitionSectors - dataStart) / g.sectorsPerCluster;
}

using Lines = std::vector<std::string>;

bool haveTools()
{
    return haveProgram("fsck.fat") && haveProgram("minfo") && haveProgram("mdir");
}

struct ToolRun {
    int status;
    std::string output;
};

ToolRun run(const std::string& command)
{
    ToolRun r;
    r.status = runCommand(command, &r.output);
    return r;
}

Lines splitLines(const std::string& text)
{
    Lines lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// The volume of a partition as a file of its own, for fsck.fat, which takes
// no offset. Only the sectors the formatter writes are copied; the rest of
// the partition stays a hole, as it is in the sparse card image.
std::string extractVolume(const FatTestDisk& disk, const FatGeometry& g)
{
    const std::string path = disk.dir.file("volume.img");
    EXPECT_TRUE(makeSparseFile(path, uint64_t(g.partitionSectors) * 512));
    std::ifstream in(disk.image, std::ios::binary);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    std::vector<char> bytes(uint64_t(g.metadataSectors()) * 512);
    in.seekg(static_cast<std::streamoff>(uint64_t(g.partitionStart) * 512));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(in && out);
    return path;
}

// Runs fsck.fat -n on the volume and expects nothing but what the on-disk
// layout itself calls for: a root label entry padded with zero bytes (fsck.fat
// wants spaces), and a FAT32 volume under the cluster count that the FAT
// standard asks of FAT32.
void expectFsckClean(const FatTestDisk& disk, const FatGeometry& g, const std::string& label)
{
    const std::string volume = extractVolume(disk, g);
    const ToolRun fsck = run("fsck.fat -n '" + volume + "'");
    const uint32_t clusters = dataClusters(g);
    const uint32_t used = g.fatType == 32 ? 1 : 0;  // FAT32's root directory cluster

    Lines expected = {volume + ": 1 files, " + std::to_string(used) + "/" +
                      std::to_string(clusters) + " clusters"};
    const bool zeroPadded = label.size() < 11;
    if (zeroPadded) {
        expected.push_back("Volume label '" + label +
                           "' stored in root directory is not valid.");
        expected.push_back("  Auto-removing label.");
        expected.push_back("Leaving filesystem unchanged.");
    }
    if (g.fatType == 32 && clusters < FAT32_MIN_CLUSTERS) {
        expected.push_back(
            "Warning: Filesystem is FAT32 according to fat_length and fat32_length fields,");
        expected.push_back("  but has only " + std::to_string(clusters) +
                           " clusters, less than the required minimum of 65525.");
        expected.push_back("  This may lead to problems on some systems.");
    }
    // stderr and stdout interleave as they please: compare as sets of lines.
    Lines seen;
    for (const std::string& line : splitLines(fsck.output))
        if (!line.empty() && line.rfind("fsck.fat ", 0) != 0)
            seen.push_back(line);
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected) << fsck.output;
    // fsck.fat counts the label it would remove as an error.
    EXPECT_EQ(fsck.status, zeroPadded ? 1 : 0) << fsck.output;
}

// minfo and mdir read the volume in place, at its byte offset in the image.
void expectMtoolsReads(const FatTestDisk& disk, const FatGeometry& g, const std::string& label)
{
    const std::string at =
        "-i '" + disk.image + "@@" + std::to_string(uint64_t(g.partitionStart) * 512) + "' ::";
    const uint32_t clusters = dataClusters(g);
    std::string env;
    const bool belowFat32Minimum = g.fatType == 32 && clusters < FAT32_MIN_CLUSTERS;
    if (belowFat32Minimum) {
        // mtools refuses such a FAT32 volume (one made by mkfs.fat too)
        // unless told to skip its consistency check, and then takes it for
        // FAT16 and finds no root label (as on mkfs.fat's volume).
        const ToolRun refused = run("mdir " + at);
        EXPECT_NE(refused.status, 0);
        EXPECT_EQ(refused.output, "Error reading FAT\nCannot initialize '::'\n");
        env = "MTOOLS_SKIP_CHECK=1 ";
    }
    const ToolRun minfo = run(env + "minfo " + at);
    EXPECT_EQ(minfo.status, 0) << minfo.output;
    const std::string type = g.fatType == 32 ? "FAT32   " : "FAT16   ";
    EXPECT_NE(minfo.output.find("disk type=\"" + type + "\""), std::string::npos) << minfo.output;
    EXPECT_NE(minfo.output.find("cluster size: " + std::to_string(g.sectorsPerCluster) +
                                " sectors"),
              std::string::npos)
        << minfo.output;
    const ToolRun mdir = run(env + "mdir " + at);
    EXPECT_EQ(mdir.status, 0) << mdir.output;
    const std::string labelLine =
        belowFat32Minimum ? " Volume in drive : has no label\n" : " Volume in drive : is " + label + "\n";
    EXPECT_NE(mdir.output.find(labelLine), std::string::npos) << mdir.output;
    EXPECT_NE(mdir.output.find("No files"), std::string::npos) << mdir.output;
}

void formatAndCheck(FatTestDisk& disk, uint32_t index, const std::string& label)
{
    const SectorBytes mbr = disk.sector(0);
    const uint8_t* entry = mbr.data() + 446 + 16 * index;
    FatGeometry g;
    ASSERT_TRUE(chooseFatGeometry(le32(mbr, 446 + 16 * index + 8),
                                  le32(mbr, 446 + 16 * index + 12), 0, 0, g));
    (void)entry;
    ASSERT_TRUE(formatPartition(disk.handle, disk.diskSectors, disk.heads, disk.sectorsPerTrack,
                                index, 0, 0, label.c_str(), nullptr));
    SCOPED_TRACE("partition " + std::to_string(index) + " of " +
                 std::to_string(g.partitionSectors) + " sectors, FAT" +
                 std::to_string(g.fatType));
    expectFsckClean(disk, g, label);
    expectMtoolsReads(disk, g, label);
}

class PartitionSizes : public testing::TestWithParam<uint32_t> {};

TEST_P(PartitionSizes, FsckAndMtoolsAcceptTheVolume)
{
    if (!haveTools())
        GTEST_SKIP() << "fsck.fat or mtools missing";
    const uint32_t count = GetParam();
    // The system's own label, then one of the full eleven characters, with
    // which fsck.fat must have nothing to say beyond the FAT32 cluster warning.
    for (const std::string label : {"t6sc_boot", "t6sc_bootxx"}) {
        FatTestDisk disk(256 + count);
        disk.writeMbr({{256, count}});
        ASSERT_TRUE(disk.open());
        formatAndCheck(disk, 0, label);
    }
}

INSTANTIATE_TEST_SUITE_P(Sectors, PartitionSizes,
                         testing::Values(60000u, 65536u, 65537u, 512000u, 524295u, 524296u,
                                         7000000u));

struct Card {
    const char* name;
    uint64_t sectors;
    uint32_t heads, sectorsPerTrack;
};

class Cards : public testing::TestWithParam<Card> {};

TEST_P(Cards, BothPartitionsPassFsckAndMtools)
{
    if (!haveTools())
        GTEST_SKIP() << "fsck.fat or mtools missing";
    const Card card = GetParam();
    FatTestDisk disk(card.sectors, card.heads, card.sectorsPerTrack);
    ASSERT_TRUE(disk.open());
    // A 128 MiB card cannot hold the 250 MiB boot partition of the card
    // layout; it gets a 62.5 MiB one so that both partitions still exist.
    const int32_t small[] = {sizeInKiB(64000), 100, 0};
    const int32_t layout[] = {sizeInKiB(256000), 100, 0};
    ASSERT_TRUE(writePartitionTable(disk.handle, disk.diskSectors, disk.heads,
                                    disk.sectorsPerTrack,
                                    card.sectors < 600000 ? small : layout));
    formatAndCheck(disk, 0, "t6sc_boot");
    formatAndCheck(disk, 1, "t6sc_data");
}

INSTANTIATE_TEST_SUITE_P(Sizes, Cards,
                         testing::Values(Card{"128MiB", 262144, 16, 32},
                                         Card{"1GB", 2001888, 16, 63},
                                         Card{"4GB", 7813120, 255, 63},
                                         Card{"32GB", 62533296, 255, 63}),
                         [](const testing::TestParamInfo<Card>& info) {
                             return std::string("Card") + info.param.name;
                         });

}  // namespace
