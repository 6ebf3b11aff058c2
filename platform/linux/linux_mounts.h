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
    // What mounts it again as it was: the source as listed, the file system
    // type, the mount's own options ("rw,nosuid,relatime") and the file
    // system's ("rw,fmask=0022,utf8").
    std::string source;
    std::string type;
    std::string options;
    std::string superOptions;
};

// Mounts whose source is "/dev/sdXN" (or the same name under `devRoot`);
// every other mount (root file systems of other kinds, loops, tmpfs) is left out.
std::vector<DiskMount> readDiskMounts(const std::string& mountinfoPath, const std::string& devRoot);
// Undoes the octal escapes ("\040" for a space) of a mountinfo field.
std::string unescapeMountField(const std::string& field);

}  // namespace linuxos
}  // namespace platform
