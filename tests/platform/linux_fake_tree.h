#pragma once
// A fake machine for the Linux backend: sysfs, dev and mountinfo under a
// temporary folder. Disks and partitions are image files in the dev folder.

#include "platform/linux/linux_platform.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <string>

class FakeLinuxTree {
public:
    FakeLinuxTree() {
        std::filesystem::create_directories(dir_.file("sys/block"));
        std::filesystem::create_directories(dir_.file("dev"));
        writeWholeFile(mountinfo(), "");
    }

    platform::LinuxRoots roots() const {
        return platform::LinuxRoots{dir_.file("sys"), dir_.file("dev"), mountinfo(),
                                    dir_.file("run-lock")};
    }
    std::string mountinfo() const { return dir_.file("mountinfo"); }
    std::string devPath(const std::string& name) const { return dir_.file("dev/" + name); }
    std::string path(const std::string& name) const { return dir_.file(name); }

    // Disk `name` ("sdb") with an image of `bytes` bytes; sysfs size follows the image.
    void addDisk(const std::string& name, uint64_t bytes, bool removable = true) {
        std::string block = dir_.file("sys/block/" + name);
        std::filesystem::create_directories(block + "/device");
        writeWholeFile(block + "/size", std::to_string(bytes / 512) + "\n");
        writeWholeFile(block + "/removable", removable ? "1\n" : "0\n");
        makeSparseFile(devPath(name), bytes);
    }
    void setSysfs(const std::string& relative, const std::string& text) {
        writeWholeFile(dir_.file("sys/block/" + relative), text);
    }
    // Partition `number` of `disk`: "sdb1", or "loop2p1" for a disk name ending in a digit.
    static std::string partitionName(const std::string& disk, int number) {
        const bool digit = !disk.empty() && disk.back() >= '0' && disk.back() <= '9';
        return disk + (digit ? "p" : "") + std::to_string(number);
    }
    void addPartition(const std::string& disk, int number, uint64_t startSector,
                      uint64_t sectors) {
        std::string name = partitionName(disk, number);
        std::string block = dir_.file("sys/block/" + disk + "/" + name);
        std::filesystem::create_directories(block);
        writeWholeFile(block + "/start", std::to_string(startSector) + "\n");
        writeWholeFile(block + "/size", std::to_string(sectors) + "\n");
        makeSparseFile(devPath(name), sectors * 512);
    }
    void removePartition(const std::string& disk, int number) {
        std::filesystem::remove_all(dir_.file("sys/block/" + disk + "/" + partitionName(disk, number)));
    }
    // One mountinfo line per call, in mount order.
    void mount(const std::string& source, const std::string& mountPoint,
               const std::string& type = "vfat") {
        static int id = 100;
        ++id;
        std::string escaped;
        for (char c : mountPoint) escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
        std::string line = std::to_string(id) + " 1 8:17 / " + escaped +
                           " rw,relatime shared:" + std::to_string(id) + " - " + type + " " +
                           source + " rw\n";
        writeWholeFile(mountinfo(), readWholeFile(mountinfo()) + line);
    }
    void clearMounts() { writeWholeFile(mountinfo(), ""); }

private:
    TempDir dir_;
};
