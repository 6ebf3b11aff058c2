#include "tools/card_target.h"

#include "disk/raw_disk.h"
#include "util/debug.h"
#include "util/text.h"
#include "util/little_endian.h"

#include <filesystem>
#include <system_error>

namespace {

// Drive number of the image in its simulated machine.
constexpr int IMAGE_DRIVE_NUMBER = 0;
constexpr uint32_t GEOMETRY_EX_BYTES = 40;

}  // namespace

CardTarget::CardTarget(const std::string& imagePath, uint32_t heads, uint32_t sectorsPerTrack)
    : sim_(std::make_unique<platform::SimPlatform>()), driveNumber_(IMAGE_DRIVE_NUMBER),
      name_(imagePath) {
    platform::SimDrive drive;
    drive.imagePath = imagePath;
    drive.heads = heads;
    drive.sectorsPerTrack = sectorsPerTrack;
    drive.vendor = "image";
    drive.product = imagePath;
    sim_->addDrive(IMAGE_DRIVE_NUMBER, drive);
    // Debug lines go where the native backend writes them: standard error.
    sim_->setEchoDebug(true);
    scope_ = std::make_unique<platform::ScopedPlatform>(*sim_);
    formatNarrow(drivePath_, sizeof drivePath_, "\\\\.\\PhysicalDrive%d", driveNumber_);
}

CardTarget::CardTarget(int driveNumber)
    : driveNumber_(driveNumber), name_("drive " + std::to_string(driveNumber)) {
    formatNarrow(drivePath_, sizeof drivePath_, "\\\\.\\PhysicalDrive%d", driveNumber_);
}

// The scope goes first so that the previous backend is back before the
// simulated machine is destroyed.
CardTarget::~CardTarget() {
    scope_.reset();
}

bool checkImageFile(const std::string& path, std::ostream& err) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        err << "The image file " << path << " does not exist." << std::endl;
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        err << path << " is not an image file; name a drive by its number instead." << std::endl;
        return false;
    }
    return true;
}

bool checkRemovableDrive(int driveNumber, std::ostream& err) {
    CardTarget target(driveNumber);
    platform::Platform& os = platform::os();
    const platform::Handle handle =
        os.CreateFileA(target.drivePath(), platform::GENERIC_READ,
                       platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        err << "Drive " << driveNumber << " cannot be opened (error " << os.GetLastError() << ")."
            << std::endl;
        return false;
    }
    unsigned char hotplug[platform::HOTPLUG_INFO_SIZE] = {};
    uint32_t returned = 0;
    const bool answered = os.DeviceIoControl(handle, platform::IOCTL_STORAGE_GET_HOTPLUG_INFO,
                                             nullptr, 0, hotplug, sizeof hotplug, &returned);
    os.CloseHandle(handle);
    if (!answered || hotplug[platform::HOTPLUG_MEDIA_REMOVABLE] == 0) {
        err << "Drive " << driveNumber
            << " does not hold removable media; t6-card writes only to removable cards." << std::endl;
        return false;
    }
    return true;
}

OpenCard::OpenCard(const CardTarget& target) : kept_(lockDriveVolumes(target.driveNumber())) {
    // A volume that stays mounted would write its cached state over the new card.
    if (kept_.refused != '\0') return;
    open_ = openPhysicalDrive(target.drivePath(), handle_, diskSectors_, heads_, sectorsPerTrack_);
    if (!open_) debugPrint("Failed to open disk\n");
}

OpenCard::~OpenCard() {
    // A failed open may still have left a handle behind; give that back too.
    if (handle_ != platform::INVALID_HANDLE_VALUE) releaseDisk(handle_);
    unlockDriveVolumes(kept_);
}

bool openForReading(const CardTarget& target, platform::Handle& handle, uint64_t& diskSectors) {
    platform::Platform& os = platform::os();
    handle = os.CreateFileA(target.drivePath(), platform::GENERIC_READ,
                            platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                            platform::OPEN_EXISTING, 0);
    if (handle == platform::INVALID_HANDLE_VALUE) return false;
    unsigned char geometry[GEOMETRY_EX_BYTES] = {};
    uint32_t returned = 0;
    if (!os.DeviceIoControl(handle, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                            geometry, sizeof geometry, &returned) ||
        loadLe32(geometry + platform::GEOMETRY_EX_BYTES_PER_SECTOR) != SECTOR_BYTES) {
        os.CloseHandle(handle);
        handle = platform::INVALID_HANDLE_VALUE;
        return false;
    }
    diskSectors = loadLe64(geometry + platform::GEOMETRY_EX_DISK_SIZE) / SECTOR_BYTES;
    return true;
}

void closeForReading(platform::Handle handle) {
    platform::os().CloseHandle(handle);
}
