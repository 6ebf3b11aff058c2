#include "install/install_target.h"

#include "util/text.h"

namespace {

// Drive number of an image in its simulated machine.
constexpr int IMAGE_DRIVE_NUMBER = 0;

}  // namespace

InstallTarget::InstallTarget(int driveNumber)
    : InstallTarget(driveNumber, "drive " + std::to_string(driveNumber)) {}

InstallTarget::InstallTarget(int driveNumber, std::string name)
    : driveNumber_(driveNumber), name_(std::move(name)) {
    formatNarrow(drivePath_, sizeof drivePath_, "\\\\.\\PhysicalDrive%d", driveNumber_);
}

InstallTarget::~InstallTarget() = default;

ImageTarget::ImageTarget(const std::string& imagePath, uint32_t heads, uint32_t sectorsPerTrack)
    : InstallTarget(IMAGE_DRIVE_NUMBER, imagePath),
      sim_(std::make_unique<platform::SimPlatform>()) {
    platform::SimDrive drive;
    drive.imagePath = imagePath;
    drive.heads = heads;
    drive.sectorsPerTrack = sectorsPerTrack;
    drive.vendor = "image";
    drive.product = imagePath;
    sim_->addDrive(IMAGE_DRIVE_NUMBER, drive);
    // Debug lines go where the native backend writes them: standard error.
    sim_->setEchoDebug(true);
    // A run may move millions of sectors; nobody reads the call log here.
    sim_->setRecordCalls(false);
    scope_ = std::make_unique<platform::ScopedPlatform>(*sim_);
    // The image is the drive chosen, as it is now.
    setListed({examineDrive(IMAGE_DRIVE_NUMBER).description, true});
}

// The scope goes first so that the previous backend is back before the
// simulated machine is destroyed.
ImageTarget::~ImageTarget() {
    scope_.reset();
}
