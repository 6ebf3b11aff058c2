// Times formatting both partitions of simulated cards and counts the sector
// writes, then runs mkfs.fat on files of the same partition sizes.
//
// Usage: zel_fat_bench [work folder]   (default: the system's temp folder)

#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/fat_geometry.h"
#include "fat/format_partition.h"
#include "platform/little_endian.h"
#include "platform/sim_platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Card {
    const char* name;
    uint64_t sectors;
};

struct Partition {
    uint32_t start, count;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool makeSparse(const fs::path& path, uint64_t bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    std::error_code error;
    fs::resize_file(path, bytes, error);
    return !error;
}

bool readPartitions(const fs::path& image, Partition (&parts)[2])
{
    unsigned char mbr[512] = {};
    std::ifstream in(image, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(mbr), sizeof mbr))
        return false;
    for (int i = 0; i < 2; ++i)
        parts[i] = {loadLe32(mbr + 446 + 16 * i + 8), loadLe32(mbr + 446 + 16 * i + 12)};
    return true;
}

// Counts write-type system calls of a command with strace's summary; -1 without strace.
long countWrites(const std::string& command, const fs::path& work)
{
    const fs::path summary = work / "strace.txt";
    const std::string traced = "strace -f -c -e trace=write,pwrite64,writev,pwritev -o '" +
                               summary.string() + "' " + command + " > /dev/null 2>&1";
    if (std::system("strace -V > /dev/null 2>&1") != 0 || std::system(traced.c_str()) != 0)
        return -1;
    std::ifstream in(summary);
    std::string line;
    long total = -1;
    // The "total" row: % time, seconds, usecs/call, calls, ...
    while (std::getline(in, line)) {
        if (line.find("total") == std::string::npos)
            continue;
        double percent, seconds;
        long perCall, calls;
        if (std::sscanf(line.c_str(), "%lf %lf %ld %ld", &percent, &seconds, &perCall, &calls) == 4)
            total = calls;
    }
    return total;
}

bool benchCard(const Card& card, const fs::path& work)
{
    const fs::path image = work / "card.img";
    if (!makeSparse(image, card.sectors * 512)) {
        std::fprintf(stderr, "cannot create %s\n", image.string().c_str());
        return false;
    }
    platform::SimPlatform sim;
    platform::ScopedPlatform scoped(sim);
    platform::SimDrive drive;
    drive.imagePath = image.string();
    sim.addDrive(0, drive);
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors = 0, heads = 0, sectorsPerTrack = 0;
    const int32_t layout[] = {sizeInKiB(256000), 100, 0};
    if (!openPhysicalDrive("\\\\.\\PhysicalDrive0", handle, diskSectors, heads, sectorsPerTrack) ||
        !writePartitionTable(handle, diskSectors, heads, sectorsPerTrack, layout)) {
        std::fprintf(stderr, "cannot lay out the %s card\n", card.name);
        return false;
    }
    Partition parts[2];
    if (!readPartitions(image, parts))
        return false;

    const char* labels[] = {"t6sc_boot", "t6sc_data"};
    for (uint32_t index = 0; index < 2; ++index) {
        FatGeometry g;
        if (!chooseFatGeometry(parts[index].start, parts[index].count, 0, 0, g))
            return false;
        const uint64_t writesBefore = sim.writeCount();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = formatPartition(handle, diskSectors, heads, sectorsPerTrack, index, 0, 0,
                                        labels[index], nullptr);
        const double ours = secondsSince(start);
        const uint64_t ourWrites = sim.writeCount() - writesBefore;

        // mkfs.fat on a file of the same size, same type and cluster size.
        const fs::path volume = work / "volume.img";
        makeSparse(volume, uint64_t(g.partitionSectors) * 512);
        const std::string mkfs = "mkfs.fat -F " + std::to_string(g.fatType) + " -s " +
                                 std::to_string(g.sectorsPerCluster) + " -n T6SC '" +
                                 volume.string() + "'";
        const auto mkfsStart = std::chrono::steady_clock::now();
        const int status = std::system((mkfs + " > /dev/null 2>&1").c_str());
        const double theirs = secondsSince(mkfsStart);
        makeSparse(volume, uint64_t(g.partitionSectors) * 512);
        const long theirWrites = status == 0 ? countWrites(mkfs, work) : -1;

        std::printf("%-6s %u  %9u sectors  FAT%d spc %-3u  formatPartition %s %8.3f s %7llu writes"
                    "  |  mkfs.fat %s %8.3f s %7ld writes\n",
                    card.name, index, g.partitionSectors, g.fatType, g.sectorsPerCluster,
                    ok ? "ok  " : "FAIL", ours, static_cast<unsigned long long>(ourWrites),
                    status == 0 ? "ok  " : "FAIL", theirs, theirWrites);
        fs::remove(volume);
    }
    releaseDisk(handle);
    fs::remove(image);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::random_device random;
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const fs::path work = base / ("zel-fat-bench-" + std::to_string(random()));
    fs::create_directories(work);
    const Card cards[] = {{"4GB", 7813120}, {"32GB", 62533296}};
    bool ok = true;
    for (const Card& card : cards)
        ok = benchCard(card, work) && ok;
    fs::remove_all(work);
    return ok ? 0 : 1;
}
