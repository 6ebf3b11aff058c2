#pragma once
// The drive a command works on. An image file becomes drive 0 of a simulated
// machine that is in force while the target lives, so the stages run on it
// exactly as on a card; a real drive number goes to the native backend.

#include "install/installation.h"
#include "install/volume_lockout.h"
#include "platform/platform.h"
#include "platform/sim_platform.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

class CardTarget {
public:
    // `imagePath` must already exist as a regular file.
    CardTarget(const std::string& imagePath, uint32_t heads, uint32_t sectorsPerTrack);
    explicit CardTarget(int driveNumber);
    ~CardTarget();
    CardTarget(const CardTarget&) = delete;
    CardTarget& operator=(const CardTarget&) = delete;

    int driveNumber() const { return driveNumber_; }
    const char* drivePath() const { return drivePath_; }
    bool isImage() const { return sim_ != nullptr; }
    // How the target is named in messages: the image path or "drive N".
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<platform::SimPlatform> sim_;
    std::unique_ptr<platform::ScopedPlatform> scope_;
    int driveNumber_ = 0;
    char drivePath_[DRIVE_PATH_CHARS] = {};
    std::string name_;
};

// An image argument is usable when it names an existing regular file; the
// reason goes to `err` otherwise. Block devices are reached by drive number.
bool checkImageFile(const std::string& path, std::ostream& err);

// Refuses a drive that cannot be opened or whose media are not removable, as
// told by the drive's hot-plug record. Opens for reading only and closes again.
bool checkRemovableDrive(int driveNumber, std::ostream& err);

// The drive opened for writing, as the installation holds it: its volumes
// locked first, the drive opened exclusively; both given back on destruction.
class OpenCard {
public:
    explicit OpenCard(const CardTarget& target);
    ~OpenCard();
    OpenCard(const OpenCard&) = delete;
    OpenCard& operator=(const OpenCard&) = delete;

    // False also when a volume of the drive refused its lock: then the drive
    // is not opened at all, and refusedVolume() gives that volume's letter.
    bool isOpen() const { return open_; }
    char refusedVolume() const { return kept_.refused; }
    platform::Handle handle() const { return handle_; }
    uint32_t diskSectors() const { return diskSectors_; }
    uint32_t heads() const { return heads_; }
    uint32_t sectorsPerTrack() const { return sectorsPerTrack_; }

private:
    KeptVolumes kept_;
    platform::Handle handle_ = platform::INVALID_HANDLE_VALUE;
    uint32_t diskSectors_ = 0, heads_ = 0, sectorsPerTrack_ = 0;
    bool open_ = false;
};

// Opens the target for reading only (sharing it with others) and gives its
// size in sectors; nothing is locked or written. Close with closeForReading.
bool openForReading(const CardTarget& target, platform::Handle& handle, uint64_t& diskSectors);
void closeForReading(platform::Handle handle);
