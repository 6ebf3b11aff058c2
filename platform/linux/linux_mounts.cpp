#include "platform/linux/linux_mounts.h"

#include <fstream>
#include <sstream>

namespace platform {
namespace linuxos {
namespace {

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// The device name when `source` is a node directly inside one of the dev roots.
std::optional<BlockName> deviceOf(const std::string& source, const std::string& devRoot) {
    for (const std::string& prefix : {std::string("/dev/"), devRoot + "/"}) {
        if (source.size() <= prefix.size() || source.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string name = source.substr(prefix.size());
        if (name.find('/') != std::string::npos) continue;
        std::optional<BlockName> device = BlockName::parse(name);
        // Whole loop devices carry the system's own images (snaps and the
        // like): volumes only where a loop device holds a partition table.
        if (device && device->loop() && device->wholeDisk()) return std::nullopt;
        return device;
    }
    return std::nullopt;
}

}  // namespace

std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<DiskMount> readDiskMounts(const std::string& mountinfoPath, const std::string& devRoot) {
    std::vector<DiskMount> mounts;
    std::ifstream in(mountinfoPath);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::istringstream fields(line);
        std::vector<std::string> parts;
        std::string part;
        while (fields >> part) parts.push_back(part);
        size_t separator = 6;
        while (separator < parts.size() && parts[separator] != "-") ++separator;
        if (parts.size() < 5 || separator + 2 >= parts.size()) continue;
        const std::string source = unescapeMountField(parts[separator + 2]);
        std::optional<BlockName> device = deviceOf(source, devRoot);
        if (!device) continue;
        const std::string superOptions = separator + 3 < parts.size() ? parts[separator + 3] : "";
        mounts.push_back({*device, unescapeMountField(parts[4]), source,
                          unescapeMountField(parts[separator + 1]), parts[5],
                          unescapeMountField(superOptions)});
    }
    return mounts;
}

}  // namespace linuxos
}  // namespace platform
