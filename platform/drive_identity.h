#pragma once
// The text of Platform::driveIdentity, for every backend.

#include <string>
#include <vector>

namespace platform {

// "<drive> (<volume>, <volume>)", or "<drive> (no volumes)".
std::string identityText(const std::string& drive, const std::vector<std::string>& volumes);

}  // namespace platform
