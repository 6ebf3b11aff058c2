#include "install/drive_run_guard.h"

#include "util/debug.h"

#include <string>

DriveRunGuard::DriveRunGuard(int driveNumber) : os_(platform::os()) {
    platform::Platform& os = os_;
    const std::string digits = std::to_string(driveNumber);
    const std::u16string name = u"Global\\ZelRecoveryDrive" + std::u16string(digits.begin(), digits.end());
    handle_ = os.CreateMutexW(name.c_str());
    if (handle_ != platform::INVALID_HANDLE_VALUE) return;
    const uint32_t error = os.GetLastError();
    heldElsewhere_ = error == platform::ERROR_ALREADY_EXISTS;
    // A guard that cannot be made at all (no lock folder) keeps no run out;
    // the drive's own exclusive open still does while it is written.
    if (!heldElsewhere_) debugPrint("Guard of drive %d not taken: %u\n", driveNumber, error);
}

DriveRunGuard::~DriveRunGuard() {
    if (handle_ != platform::INVALID_HANDLE_VALUE) os_.CloseHandle(handle_);
}
