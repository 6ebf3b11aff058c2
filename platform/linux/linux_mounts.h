#pragma once
// The mounts of SCSI disk partitions listed in a mountinfo file, in mount order.

#include "platform/linux/linux_sysfs.h"

#include <string>
#include <vector>

namespace platform {
namespace linuxos {

struct DiskMount {
    BlockName device;
    std::string mountPoint;
};

// Mounts whose source is "/dev/sdXN" (or the same name under `devRoot`);
// every other mount (root file systems of other kinds, loops, tmpfs) is left out.
std::vector<DiskMount> readDiskMounts(const std::string& mountinfoPath, const std::string& devRoot);
// Undoes the octal escapes ("\040" for a space) of a mountinfo field.
std::string unescapeMountField(const std::string& field);

}  // namespace linuxos
}  // namespace platform
