// Rebuilds a card through the real Linux backend on a direct-I/O loop device
// (each write the backend makes is one request of the device) and, on the
// same device in the same run, the peer pipeline: sfdisk replaying our
// partition table, mkfs.fat with our parameters on offset loop devices, dd of
// our MBR and stage 1.5 sectors, sync of the device. For each: wall time, write and flush
// requests the device saw (/sys/block/loopN/stat), and the time the requests
// would take at 1 ms each, as a USB card reader needs; reads (our read-back)
// are counted and timed apart from writes. Median of 3 runs,
// caches dropped before each. Needs root, losetup, sfdisk and mkfs.fat.
//
// Usage: zel_card_speed_bench FOLDER [GiB ...]   (default 4 32; FOLDER on a
// file system that takes O_DIRECT, not tmpfs)

#include "disk/raw_disk.h"
#include "install/bootloader_stage.h"
#include "install/stage_report.h"
#include "install/partition_format_stage.h"
#include "platform/linux/linux_platform.h"
#include "platform/sim_platform.h"
#include "platform/little_endian.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {


std::string output(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::cerr << "failed: " << command << "\n";
        std::exit(1);
    }
}

struct Requests {
    uint64_t writes = 0, flushes = 0, reads = 0;
    uint64_t writeMs = 0, readMs = 0;  // time the device spent on each kind

    Requests since(const Requests& b) const {
        return {writes - b.writes, flushes - b.flushes, reads - b.reads, writeMs - b.writeMs, readMs - b.readMs};
    }
};

// Completed requests of a block device, and the time it spent on them.
Requests deviceRequests(const std::string& loop) {
    std::ifstream in("/sys/block/" + fs::path(loop).filename().string() + "/stat");
    std::vector<uint64_t> field;
    for (uint64_t v; in >> v;) field.push_back(v);
    Requests r;
    if (field.size() > 7) {
        r.reads = field[0];
        r.readMs = field[3];
        r.writes = field[4];
        r.writeMs = field[7];
    }
    if (field.size() > 15) r.flushes = field[15];
    return r;
}

void dropCaches() {
    ::sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

struct Sample {
    double seconds = 0;
    Requests requests;
};

// Our rebuild: partition, format, boot loader, flush, release, as the
// installation runs them, with the loop device standing in for sdb.
Sample ours(const std::string& loop, uint64_t bytes, const fs::path& tree) {
    fs::remove_all(tree);
    fs::create_directories(tree / "sys/block/sdb/device");
    fs::create_directories(tree / "dev");
    std::ofstream(tree / "sys/block/sdb/size") << bytes / 512 << "\n";
    std::ofstream(tree / "sys/block/sdb/removable") << "1\n";
    std::ofstream(tree / "mountinfo");
    fs::create_symlink(loop, tree / "dev/sdb");
    platform::LinuxPlatform os(
        platform::LinuxRoots{(tree / "sys").string(), (tree / "dev").string(), (tree / "mountinfo").string()});
    platform::ScopedPlatform scoped(os);

    dropCaches();
    const Requests before = deviceRequests(loop);
    const auto start = std::chrono::steady_clock::now();
    platform::Handle disk = platform::INVALID_HANDLE_VALUE;
    uint32_t sectors = 0, heads = 0, perTrack = 0;
    QuietStageReport report;
    if (!openPhysicalDrive("\\\\.\\PhysicalDrive1", disk, sectors, heads, perTrack)) report.setFailed();
    if (!report.failed()) partitionAndFormat(report, disk, sectors, heads, perTrack, 0, 33);
    if (!report.failed()) installBootloader(report, disk, 34, 66);
    if (!report.failed() && !flushDisk(disk)) report.setFailed();
    if (disk != platform::INVALID_HANDLE_VALUE) releaseDisk(disk);
    Sample s;
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Requests after = deviceRequests(loop);
    s.requests = after.since(before);
    if (report.failed()) {
        std::cerr << "our rebuild failed on " << loop << "\n";
        std::exit(1);
    }
    return s;
}

struct Volume {
    uint32_t first, count;
    int fat;
    uint32_t sectorsPerCluster, reserved;
    std::string label;
};

// What our rebuild left: the partition table, each volume's parameters and
// the boot sectors, for the peer to replay.
std::vector<Volume> readLayout(const std::string& loop, const fs::path& work) {
    run("dd if=" + loop + " of=" + (work / "boot.bin").string() + " bs=512 count=18 status=none");
    std::ifstream in(work / "boot.bin", std::ios::binary);
    std::vector<uint8_t> mbr(512);
    in.read(reinterpret_cast<char*>(mbr.data()), 512);
    std::vector<Volume> volumes;
    for (int i = 0; i < 2; ++i) {
        const uint8_t* e = mbr.data() + 446 + 16 * i;
        Volume v{loadLe32(e + 8), loadLe32(e + 12), e[4] == 0x06 ? 16 : 32, 0, 0,
                 i == 0 ? "t6sc_boot" : "t6sc_data"};
        std::ifstream dev(loop, std::ios::binary);
        dev.seekg(std::streamoff(v.first) * 512);
        std::vector<uint8_t> boot(512);
        dev.read(reinterpret_cast<char*>(boot.data()), 512);
        v.sectorsPerCluster = boot[13];
        v.reserved = loadLe16(boot.data() + 14);
        volumes.push_back(v);
    }
    return volumes;
}

Sample peer(const std::string& loop, const std::vector<Volume>& volumes, const fs::path& work) {
    std::ostringstream table;
    table << "label: dos\n";
    for (const Volume& v : volumes)
        table << "start=" << v.first << ", size=" << v.count << ", type=" << (v.fat == 16 ? "6" : "b") << "\n";
    std::ofstream(work / "table") << table.str();
    const std::string boot = (work / "boot.bin").string();

    dropCaches();
    const Requests before = deviceRequests(loop);
    const auto start = std::chrono::steady_clock::now();
    run("sfdisk -q --no-reread --no-tell-kernel " + loop + " < " + (work / "table").string() + " > /dev/null 2>&1");
    for (const Volume& v : volumes) {
        const std::string part = output("losetup -f --show --direct-io=on -o " +
                                        std::to_string(uint64_t(v.first) * 512) + " --sizelimit " +
                                        std::to_string(uint64_t(v.count) * 512) + " " + loop);
        run("mkfs.fat -F " + std::to_string(v.fat) + " -s " + std::to_string(v.sectorsPerCluster) +
            " -R " + std::to_string(v.reserved) + " -n " + v.label + " " + part + " > /dev/null 2>&1");
        run("losetup -d " + part);
    }
    run("dd if=" + boot + " of=" + loop + " bs=512 count=1 conv=notrunc status=none");
    run("dd if=" + boot + " of=" + loop + " bs=512 skip=1 seek=1 count=17 conv=notrunc status=none");
    run("sync " + loop);
    Sample s;
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Requests after = deviceRequests(loop);
    s.requests = after.since(before);
    return s;
}

// The median of each figure on its own.
uint64_t medianOf(const std::vector<Sample>& samples, uint64_t Requests::*field) {
    std::vector<uint64_t> values;
    for (const Sample& s : samples) values.push_back(s.requests.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Sample median(std::vector<Sample> samples) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
    Sample m = samples[samples.size() / 2];
    for (uint64_t Requests::*field : {&Requests::writes, &Requests::flushes, &Requests::reads,
                                      &Requests::writeMs, &Requests::readMs})
        m.requests.*field = medianOf(samples, field);
    return m;
}

void print(const char* who, const Sample& s) {
    const Requests& r = s.requests;
    std::printf("  %-6s %8.3f s wall  %7llu write requests (%llu ms)  %3llu flushes  %5llu read requests (%llu ms)"
                "  %8.3f s at 1 ms a request\n",
                who, s.seconds, static_cast<unsigned long long>(r.writes), static_cast<unsigned long long>(r.writeMs),
                static_cast<unsigned long long>(r.flushes), static_cast<unsigned long long>(r.reads),
                static_cast<unsigned long long>(r.readMs), (r.writes + r.reads) * 0.001);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: zel_card_speed_bench FOLDER [GiB ...]\n";
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]) / "zel-card-speed";
    std::vector<uint64_t> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {4, 32};
    fs::create_directories(work);

    for (uint64_t gib : sizes) {
        const uint64_t bytes = gib << 30;
        const fs::path image = work / "card.img";
        fs::remove(image);
        std::ofstream(image).close();
        fs::resize_file(image, bytes);
        const std::string loop = output("losetup -f --show --direct-io=on " + image.string());
        if (loop.empty()) {
            std::cerr << "no loop device\n";
            return 1;
        }
        std::vector<Sample> mine, theirs;
        for (int round = 0; round < 3; ++round) {
            mine.push_back(ours(loop, bytes, work / "tree"));
            const std::vector<Volume> volumes = readLayout(loop, work);
            theirs.push_back(peer(loop, volumes, work));
        }
        run("losetup -d " + loop);
        fs::remove(image);
        std::printf("%llu GiB card on %s (direct I/O), median of 3:\n", static_cast<unsigned long long>(gib),
                    loop.c_str());
        print("ours", median(mine));
        print("peer", median(theirs));
    }
    fs::remove_all(work);
    return 0;
}
