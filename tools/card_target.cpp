#include "tools/card_target.h"

#include "disk/drive_probe.h"
#include "disk/raw_disk.h"
#include "install/failure_account.h"
#include "platform/little_endian.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

constexpr uint32_t GEOMETRY_EX_BYTES = 40;

platform::Handle openShared(const InstallTarget& target) {
    return platform::os().CreateFileA(target.drivePath(), platform::GENERIC_READ,
                                      platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                      platform::OPEN_EXISTING, 0);
}

}  // namespace

bool resolveDevicePath(CardOptions& options, std::ostream& err) {
    if (options.devicePath.empty()) return true;
    const platform::DeviceNode node = platform::os().deviceNode(options.devicePath);
    switch (node.kind) {
    case platform::DeviceKind::Drive:
        options.driveNumber = node.driveNumber;
        return true;
    case platform::DeviceKind::Partition:
        err << options.devicePath << " is a partition; name the whole drive (drive "
            << node.driveNumber << ")." << std::endl;
        return false;
    case platform::DeviceKind::Loop:
        if (options.allowLoop) {
            options.driveNumber = node.driveNumber;
            options.loopDevice = true;
            return true;
        }
        err << options.devicePath << " is a loop device, not a card; name it with --allow-loop "
            << "to use it in place of one." << std::endl;
        return false;
    case platform::DeviceKind::None:
        break;
    }
    err << options.devicePath << " names no drive that t6-card can reach; name the drive by "
        << "its number (t6-card list)." << std::endl;
    return false;
}

std::unique_ptr<InstallTarget> makeTarget(const CardOptions& options, std::ostream& err) {
    if (options.driveNumber != NO_DRIVE) return std::make_unique<InstallTarget>(options.driveNumber);
    if (!checkImageFile(options.target, err)) return nullptr;
    return std::make_unique<ImageTarget>(options.target, options.heads, options.sectorsPerTrack);
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

bool checkImageForWriting(const std::string& path, std::ostream& err) {
    if (!checkImageFile(path, err)) return false;
    std::error_code error;
    const uint64_t sectors = std::filesystem::file_size(path, error) / SECTOR_BYTES;
    if (!error && sectors > UINT32_MAX) {
        err << "The image file " << path << " holds " << sectors
            << " sectors; t6-card writes images of up to " << UINT32_MAX << " sectors (2 TiB)."
            << std::endl;
        return false;
    }
    // Opened as the simulated drive opens it: for reading and writing, nothing truncated.
    errno = 0;
    if (!std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)) {
        const int cause = errno;
        err << "The image file " << path << " cannot be opened for writing"
            << (cause != 0 ? ": " + std::generic_category().message(cause) : std::string()) << "."
            << std::endl;
        return false;
    }
    return true;
}

void explainImageWriteError(const ImageTarget& image, const std::string& name, std::ostream& err) {
    switch (image.writeError()) {
    case platform::ERROR_DISK_FULL:
        err << "The file system holding " << name << " is full." << std::endl;
        break;
    case platform::ERROR_FILE_TOO_LARGE:
        err << name << " has reached the largest file this process may write (ulimit -f)."
            << std::endl;
        break;
    default:
        break;
    }
}

bool checkRemovableDrive(int driveNumber, bool requireRemovable, std::ostream& err) {
    const InstallTarget target(driveNumber);
    platform::Platform& os = platform::os();
    const platform::Handle handle = openShared(target);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        const uint32_t error = os.GetLastError();
        const FailureAccount account = accountForRefusedOpen(target, error);
        if (!account.sentence.empty())
            err << account.sentence << std::endl;
        else
            err << "Drive " << driveNumber << " cannot be opened (error " << error << ")." << std::endl;
        return false;
    }
    const bool removable = mediaRemovable(handle);
    os.CloseHandle(handle);
    if (requireRemovable && !removable) {
        err << "Drive " << driveNumber
            << " does not hold removable media; t6-card writes only to removable cards." << std::endl;
        return false;
    }
    return true;
}

bool openForReading(const InstallTarget& target, platform::Handle& handle, uint64_t& diskSectors) {
    platform::Platform& os = platform::os();
    handle = openShared(target);
    if (handle == platform::INVALID_HANDLE_VALUE) return false;
    uint8_t geometry[GEOMETRY_EX_BYTES] = {};
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
