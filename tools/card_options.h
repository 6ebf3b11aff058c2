#pragma once
// The command line of t6-card: which command, on which target, with what.

#include <cstdint>
#include <string>
#include <vector>

enum class CardCommand {
    List, Image, Install, Partition, Format, Bootloader, Inspect, Station, Help, Version
};

constexpr uint32_t DEFAULT_HEADS = 255;
constexpr uint32_t DEFAULT_SECTORS_PER_TRACK = 63;
constexpr int NO_DRIVE = -1;

struct CardOptions {
    CardCommand command = CardCommand::Help;
    // The image file, or the drive when driveNumber is set.
    std::string target;
    int driveNumber = NO_DRIVE;        // "3" or "\\.\PhysicalDrive3"
    std::string devicePath;            // "/dev/sdb": a drive named the OS's way
    int confirmedDrive = NO_DRIVE;     // --yes-destroy-drive N
    std::string confirmedDevice;       // --yes-destroy-drive /dev/sdb
    uint64_t imageSectors = 0;         // image: --size / 512 or --sectors
    uint32_t heads = DEFAULT_HEADS;    // --geometry, for image files only
    uint32_t sectorsPerTrack = DEFAULT_SECTORS_PER_TRACK;
    bool geometryGiven = false;
    std::string filesDir;              // image, install, inspect: --files, becomes \boot
    std::string firmwareFile;          // image, install, inspect: --firmware, becomes \boot\bzImage
    bool force = false;                // image: --force, an existing image file is replaced
    uint32_t partitionIndex = 0;       // format: --partition
    int32_t fatType = 0;               // format: --fat (0 = by size)
    uint32_t clusterBytes = 0;         // format: --cluster-bytes (0 = by size)
    std::string label;                 // format: --label
    bool allowLoop = false;            // --allow-loop: a loop device may stand in for a card
    bool loopDevice = false;           // the device path named a loop device (set on resolving)
    // install: every IMG|DRIVE named, in order; more than one makes a run per
    // card side by side (tools/card_line.h), and then `target` stays empty.
    std::vector<std::string> targets;
    std::vector<std::string> confirmations;        // every --yes-destroy-drive value
    std::vector<std::string> readers;              // station: --reader, as named
    std::vector<std::string> readerConfirmations;  // station: --yes-destroy-cards-in

    // Several cards at once.
    bool manyTargets() const { return targets.size() > 1; }
    // These options with `name` as the only target, a drive or an image as it reads.
    CardOptions forTarget(const std::string& name) const;

    // The target names a drive rather than an image file.
    bool namesDrive() const { return driveNumber != NO_DRIVE || !devicePath.empty(); }
};

// Reads the arguments after the program name. False with a one-sentence
// `error` on bad usage; nothing is checked against the disk or file system.
bool parseCardOptions(const std::vector<std::string>& arguments, CardOptions& options,
                      std::string& error);

// The usage summary printed with --help.
const char* cardUsage();
// What follows the one sentence of a usage error, instead of the whole usage.
constexpr char CARD_USAGE_HINT[] = "Try 't6-card --help' for more information.";

// What a usage error prints: its one sentence and where to read more.
std::string cardUsageError(const std::string& sentence);

// A drive argument: "N" or "\\.\PhysicalDriveN"; -1 when `text` is neither.
int parseDriveArgument(const std::string& text);

// A device path ("/dev/sdb"): resolved by the backend when the command runs.
bool isDevicePath(const std::string& text);
