// One full installation (lock-out, partition table, both formats, boot
// loader, release, file deployment) on a simulated card of the given size,
// run from the working directory, which must hold files/boot and
// firmware/t6-board.fw. The card is WORK/card.img (created sparse, replaced
// if present), its volume the folder WORK/volume.
//
// Usage: zel_install_bench <card bytes> <work folder>
// Prints one line: key=value pairs for bench/install_bench.sh.
#include "install/installation.h"
#include "install/stage_report.h"
#include "platform/sim_platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Notes when the deployment begins; shows nothing.
class TimingReport : public StageReport {
public:
    Clock::time_point deployStart = Clock::now();

    void show(int, const char* text) override { note(text); }
    void showValue(int) override {}
    void showText(const char* text) override { note(text); }
    void resetProgress() override {}
    void setFailed() override { failed_ = true; }
    bool failed() const override { return failed_; }

private:
    void note(const char* text) {
        if (!copying_ && std::string(text) == "Copying files...") {
            copying_ = true;
            deployStart = Clock::now();
        }
    }
    bool copying_ = false;
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <card bytes> <work folder>\n", argv[0]);
        return 2;
    }
    const uint64_t bytes = std::strtoull(argv[1], nullptr, 10);
    const fs::path work = argv[2];
    const fs::path image = work / "card.img";
    const fs::path volume = work / "volume";
    fs::remove(image);
    std::ofstream(image, std::ios::binary).close();
    fs::resize_file(image, bytes);
    fs::remove_all(volume);
    fs::create_directories(volume);
    fs::current_path(work);

    platform::SimPlatform sim;
    platform::ScopedPlatform scoped(sim);
    sim.setRecordCalls(false);
    platform::SimDrive drive;
    drive.imagePath = image.string();
    drive.heads = 255;
    drive.sectorsPerTrack = 63;
    sim.addDrive(1, drive);
    platform::SimVolume card;
    card.directory = volume.string();
    card.driveNumber = 1;
    sim.addVolume('E', card);

    TimingReport report;
    char drivePath[DRIVE_PATH_CHARS] = {};
    CardInstallation installation;
    DriveDescription listed;
    probeDrive(1, listed);
    const Clock::time_point start = Clock::now();
    installation.run(report, 1, listed, drivePath);
    const Clock::time_point end = Clock::now();

    std::printf("ok=%d seconds=%.4f disk_seconds=%.4f deploy_seconds=%.4f sectors_written=%llu "
                "sectors_read=%llu\n",
                report.failed() ? 0 : 1, secondsBetween(start, end),
                secondsBetween(start, report.deployStart), secondsBetween(report.deployStart, end),
                static_cast<unsigned long long>(sim.writeCount()),
                static_cast<unsigned long long>(sim.readCount()));
    return report.failed() ? 1 : 0;
}
