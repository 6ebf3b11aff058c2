#pragma once
// The drive an installation rewrites. A physical drive is reached through the
// backend in force; an image file becomes drive 0 of a simulated machine that
// is in force while its target lives, so the stages run on it as on a card.

#include "disk/drive_probe.h"
#include "platform/sim_platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

constexpr int DRIVE_PATH_CHARS = 256;

// The drive as the user chose it. Before anything is written the drive must
// still be it: a reader unplugged and plugged again may have brought another.
struct ListedDrive {
    DriveDescription description;
    // It must still hold removable media (a loop device standing in for a
    // card need not).
    bool removable = true;
};

class InstallTarget {
public:
    explicit InstallTarget(int driveNumber);
    virtual ~InstallTarget();
    InstallTarget(const InstallTarget&) = delete;
    InstallTarget& operator=(const InstallTarget&) = delete;

    int driveNumber() const { return driveNumber_; }
    // "\\.\PhysicalDriveN", DRIVE_PATH_CHARS characters at most.
    const char* drivePath() const { return drivePath_; }
    // How the target is named in messages: "drive N", or the image path.
    const std::string& name() const { return name_; }

    // What the drive was when it was chosen; none: nothing to compare with.
    const std::optional<ListedDrive>& listed() const { return listed_; }
    void setListed(const ListedDrive& listed) { listed_ = listed; }

protected:
    InstallTarget(int driveNumber, std::string name);

private:
    int driveNumber_;
    char drivePath_[DRIVE_PATH_CHARS] = {};
    std::string name_;
    std::optional<ListedDrive> listed_;
};

class ImageTarget final : public InstallTarget {
public:
    // `imagePath` must already exist as a regular file; its size is the disk's.
    ImageTarget(const std::string& imagePath, uint32_t heads, uint32_t sectorsPerTrack);
    ~ImageTarget() override;

    // Why the image file last refused a write (a platform error code), 0 when it never did.
    uint32_t writeError() const { return sim_->imageWriteError(); }

private:
    std::unique_ptr<platform::SimPlatform> sim_;
    std::unique_ptr<platform::ScopedPlatform> scope_;
};
