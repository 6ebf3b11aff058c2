// How the Linux backend names a drive for the technician: its device and the
// labels of its partitions.
#include "platform/drive_identity.h"
#include "platform/linux/linux_platform.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <map>

namespace platform {
namespace {

using linuxos::BlockName;

// udev writes unsafe characters of a label as "\xHH" ("BOOT\x20A").
std::string unescapedLabel(const std::string& name) {
    std::string label;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 2, "\\x") == 0 && i + 4 <= name.size()) {
            char* end = nullptr;
            const std::string digits = name.substr(i + 2, 2);
            const long value = std::strtol(digits.c_str(), &end, 16);
            if (end == digits.c_str() + 2) {
                label += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        label += name[i];
    }
    return label;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Device name ("sdb1") -> its file system's label.
std::map<std::string, std::string> labelsByDevice(const std::string& dev) {
    std::map<std::string, std::string> labels;
    const std::string folder = dev + "/disk/by-label";
    for (const std::string& name : entriesOf(folder)) {
        char target[PATH_MAX];
        if (::realpath((folder + "/" + name).c_str(), target) == nullptr) continue;
        const std::string resolved = target;
        labels[resolved.substr(resolved.rfind('/') + 1)] = unescapedLabel(name);
    }
    return labels;
}

}  // namespace

std::string LinuxPlatform::driveIdentity(int number) {
    const std::optional<BlockName> drive =
        number >= 0 ? BlockName::ofDrive(static_cast<uint32_t>(number)) : std::nullopt;
    if (!drive) return identityText("drive " + std::to_string(number), {});
    std::vector<BlockName> partitions;
    for (const std::string& name : entriesOf(sysfs_.directory(*drive))) {
        const std::optional<BlockName> block = BlockName::parse(name);
        if (block && block->disk == drive->disk && !block->wholeDisk()) partitions.push_back(*block);
    }
    std::sort(partitions.begin(), partitions.end(),
              [](const BlockName& a, const BlockName& b) { return a.partition < b.partition; });
    const std::map<std::string, std::string> labels = labelsByDevice(roots_.dev);
    std::vector<std::string> volumes;
    for (const BlockName& partition : partitions) {
        const auto label = labels.find(partition.text());
        volumes.push_back(label != labels.end() ? label->second : partition.text());
    }
    return identityText(roots_.dev + "/" + drive->text(), volumes);
}

std::string LinuxPlatform::devicePath(int number) {
    const std::optional<BlockName> drive =
        number >= 0 ? BlockName::ofDrive(static_cast<uint32_t>(number)) : std::nullopt;
    return drive ? roots_.dev + "/" + drive->text() : "drive " + std::to_string(number);
}

}  // namespace platform
