#include "platform/sim/sim_paths.h"

#include "platform/sim_platform.h"

namespace platform {
namespace sim {

std::string narrow(const char16_t* wide) {
    std::string text;
    for (; *wide != u'\0'; ++wide) text += *wide < 0x80 ? char(*wide) : '?';
    return text;
}

int driveNumberOf(const std::string& path) {
    static const std::string prefix = "\\\\.\\PhysicalDrive";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) return -1;
    int number = 0;
    for (size_t i = prefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9' || number > 1000) return -1;
        number = number * 10 + (path[i] - '0');
    }
    return number;
}

char volumeLetterOf(const std::string& path) {
    if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':' && path[4] >= 'A' &&
        path[4] <= 'Z')
        return path[4];
    return '\0';
}

}  // namespace sim

// Named as a Linux machine names them: /dev/sda is drive 0, /dev/sda1 its
// first partition, /dev/loopN drive 100 + N and /dev/loopNp1 its partition.
DeviceNode SimPlatform::deviceNode(const std::string& path) {
    DeviceNode node;
    const std::string prefix = "/dev/";
    if (path.compare(0, prefix.size(), prefix) != 0) return node;
    const std::string name = path.substr(prefix.size());
    const auto digitsOnly = [](const std::string& text) {
        return text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (name.compare(0, 4, "loop") == 0) {
        const std::string rest = name.substr(4);
        const size_t p = rest.find('p');
        const std::string index = rest.substr(0, p);
        if (index.empty() || index.size() > 3 || !digitsOnly(index)) return node;
        if (p != std::string::npos && (p + 1 == rest.size() || !digitsOnly(rest.substr(p + 1))))
            return node;
        node.kind = p == std::string::npos ? DeviceKind::Loop : DeviceKind::Partition;
        node.driveNumber = SIM_LOOP_DRIVE_BASE + std::stoi(index);
        return node;
    }
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0 || name[2] < 'a' || name[2] > 'z' ||
        !digitsOnly(name.substr(3)))
        return node;
    node.kind = name.size() == 3 ? DeviceKind::Drive : DeviceKind::Partition;
    node.driveNumber = name[2] - 'a';
    return node;
}

}  // namespace platform
