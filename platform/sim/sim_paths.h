#pragma once
// The names the simulated machine answers to.

#include <string>

namespace platform {
namespace sim {

// Wide text as narrow; characters outside ASCII become '?'.
std::string narrow(const char16_t* wide);
// "\\.\PhysicalDriveN" -> N, or -1.
int driveNumberOf(const std::string& path);
// "\\.\E:" -> 'E', or '\0'.
char volumeLetterOf(const std::string& path);

}  // namespace sim
}  // namespace platform
