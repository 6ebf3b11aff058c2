#pragma once
// Block device names of SCSI disks ("sdb", "sdb1") and the facts sysfs keeps
// about them under <sysfs>/block.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {
namespace linuxos {

// "sdb1" = disk "sdb", partition 1; "sdb" = the whole disk (partition 0).
// Single-letter SCSI disks (sda..sdz) are drives 0 to 25. Loop devices
// ("loop3", partitions "loop3p1") are drives from LOOP_DRIVE_BASE on, so that a
// loop device can stand in for a card where a tool asks for it by name.
constexpr uint32_t LOOP_DRIVE_BASE = 100;
constexpr uint32_t LOOP_DRIVE_COUNT = 900;  // drive numbers keep to three digits

struct BlockName {
    std::string disk;
    uint32_t partition = 0;

    static std::optional<BlockName> parse(const std::string& name);
    // Nothing for a number that names neither an sd disk nor a loop device.
    static std::optional<BlockName> ofDrive(uint32_t driveNumber);
    std::string text() const;
    uint32_t driveNumber() const;
    bool loop() const { return disk.compare(0, 4, "loop") == 0; }
    bool wholeDisk() const { return partition == 0; }
    bool operator==(const BlockName& other) const {
        return disk == other.disk && partition == other.partition;
    }
};

class Sysfs {
public:
    explicit Sysfs(std::string root) : root_(std::move(root)) {}

    // <root>/block/sdb or <root>/block/sdb/sdb1.
    std::string directory(const BlockName& name) const;
    bool exists(const BlockName& name) const;
    // Whether the kernel shows partitions of the disk (from its partition table).
    bool hasPartitions(const std::string& disk) const;
    // The file's text with the one trailing newline removed; nothing when unreadable.
    std::optional<std::string> text(const std::string& path) const;
    std::optional<uint64_t> number(const std::string& path) const;

    // Sizes and starts are counted in 512-byte units whatever the sector size.
    std::optional<uint64_t> sizeSectors(const BlockName& name) const;
    std::optional<uint64_t> startSector(const BlockName& name) const;
    std::optional<bool> removable(const std::string& disk) const;
    // The kernel's read-only flag of the disk (a write-protected card: "ro" is 1).
    bool readOnly(const std::string& disk) const;
    // Vendor, model and revision exactly as the device reports them.
    std::optional<std::string> deviceText(const std::string& disk, const char* field) const;

private:
    std::string root_;
};

}  // namespace linuxos
}  // namespace platform
