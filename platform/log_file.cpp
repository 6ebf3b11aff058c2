// What a log file does alike on every OS; the handle's own calls are the OS's.
#include "platform/log_file.h"

#include <utility>

namespace platform {

LogFile::~LogFile() {
    close();
}

LogFile::LogFile(LogFile&& other) noexcept : handle_(std::exchange(other.handle_, CLOSED)) {}

LogFile& LogFile::operator=(LogFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, CLOSED);
    }
    return *this;
}

}  // namespace platform
