#include "platform/linux/linux_sysfs.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace platform {
namespace linuxos {

namespace {

constexpr char kLoopPrefix[] = "loop";
constexpr size_t kLoopPrefixLength = 4;

// Decimal digits without a leading zero (unless `zeroAllowed` and the text is
// "0"), at most three of them.
std::optional<uint32_t> smallNumber(const std::string& digits, bool zeroAllowed) {
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    if (digits[0] == '0' && !(zeroAllowed && digits.size() == 1)) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    return static_cast<uint32_t>(std::stoul(digits));
}

// "loop3" or "loop3p1".
std::optional<BlockName> parseLoop(const std::string& name) {
    const std::string rest = name.substr(kLoopPrefixLength);
    const size_t p = rest.find('p');
    const std::optional<uint32_t> index = smallNumber(rest.substr(0, p), true);
    if (!index || *index >= LOOP_DRIVE_COUNT) return std::nullopt;
    BlockName result;
    result.disk = kLoopPrefix + std::to_string(*index);
    if (p == std::string::npos) return result;
    const std::optional<uint32_t> partition = smallNumber(rest.substr(p + 1), false);
    if (!partition) return std::nullopt;
    result.partition = *partition;
    return result;
}

}  // namespace

std::optional<BlockName> BlockName::parse(const std::string& name) {
    if (name.compare(0, kLoopPrefixLength, kLoopPrefix) == 0) return parseLoop(name);
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0) return std::nullopt;
    if (name[2] < 'a' || name[2] > 'z') return std::nullopt;
    BlockName result;
    result.disk = name.substr(0, 3);
    std::string digits = name.substr(3);
    if (digits.empty()) return result;
    const std::optional<uint32_t> partition = smallNumber(digits, false);
    if (!partition) return std::nullopt;
    result.partition = *partition;
    return result;
}

std::optional<BlockName> BlockName::ofDrive(uint32_t driveNumber) {
    BlockName result;
    if (driveNumber <= static_cast<uint32_t>('z' - 'a'))
        result.disk = std::string("sd") + static_cast<char>('a' + driveNumber);
    else if (driveNumber >= LOOP_DRIVE_BASE && driveNumber < LOOP_DRIVE_BASE + LOOP_DRIVE_COUNT)
        result.disk = kLoopPrefix + std::to_string(driveNumber - LOOP_DRIVE_BASE);
    else
        return std::nullopt;
    return result;
}

uint32_t BlockName::driveNumber() const {
    if (loop()) return LOOP_DRIVE_BASE + static_cast<uint32_t>(std::stoul(disk.substr(kLoopPrefixLength)));
    return static_cast<uint32_t>(disk[2] - 'a');
}

std::string BlockName::text() const {
    if (wholeDisk()) return disk;
    // A name ending in a digit takes "p" before the partition number.
    return disk + (loop() ? "p" : "") + std::to_string(partition);
}

std::string Sysfs::directory(const BlockName& name) const {
    std::string dir = root_ + "/block/" + name.disk;
    if (!name.wholeDisk()) dir += "/" + name.text();
    return dir;
}

bool Sysfs::exists(const BlockName& name) const {
    struct stat info {};
    return ::stat(directory(name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Sysfs::hasPartitions(const std::string& disk) const {
    DIR* dir = ::opendir((root_ + "/block/" + disk).c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        std::optional<BlockName> name = BlockName::parse(entry->d_name);
        if (name && name->disk == disk && !name->wholeDisk()) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::optional<std::string> Sysfs::text(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    if (!content.empty() && content.back() == '\n') content.pop_back();
    return content;
}

std::optional<uint64_t> Sysfs::number(const std::string& path) const {
    std::optional<std::string> value = text(path);
    if (!value || value->empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(value->c_str(), &end, 10);
    if (errno != 0 || end == value->c_str() || (*end != '\0' && *end != ' ')) return std::nullopt;
    return static_cast<uint64_t>(parsed);
}

std::optional<uint64_t> Sysfs::sizeSectors(const BlockName& name) const {
    return number(directory(name) + "/size");
}

std::optional<uint64_t> Sysfs::startSector(const BlockName& name) const {
    if (name.wholeDisk()) return 0;
    return number(directory(name) + "/start");
}

std::optional<bool> Sysfs::removable(const std::string& disk) const {
    std::optional<uint64_t> value = number(root_ + "/block/" + disk + "/removable");
    if (!value) return std::nullopt;
    return *value != 0;
}

bool Sysfs::readOnly(const std::string& disk) const {
    return number(root_ + "/block/" + disk + "/ro").value_or(0) != 0;
}

std::optional<std::string> Sysfs::deviceText(const std::string& disk, const char* field) const {
    return text(root_ + "/block/" + disk + "/device/" + field);
}

}  // namespace linuxos
}  // namespace platform
