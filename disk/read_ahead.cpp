#include "disk/read_ahead.h"

#include <algorithm>
#include <cstring>

ReadAhead::ReadAhead(platform::Platform& inner, platform::Handle handle, uint64_t diskBytes)
    : inner_(inner), handle_(handle), diskBytes_(diskBytes) {}

uint32_t ReadAhead::SetFilePointer(platform::Handle handle, int32_t distanceLow,
                                   int32_t* distanceHigh, uint32_t moveMethod) {
    if (handle != handle_ || moveMethod != platform::FILE_BEGIN)
        return inner_.SetFilePointer(handle, distanceLow, distanceHigh, moveMethod);
    // Positioning costs no request: the next read says where it goes.
    const uint64_t high = distanceHigh != nullptr ? uint32_t(*distanceHigh) : 0;
    position_ = high << 32 | uint32_t(distanceLow);
    return uint32_t(position_);
}

bool ReadAhead::fill(Window& window, uint64_t start) {
    const uint64_t length = std::min<uint64_t>(WINDOW_BYTES, diskBytes_ - start);
    window.bytes.assign(static_cast<size_t>(length), 0);
    int32_t high = static_cast<int32_t>(start >> 32);
    uint32_t moved = 0;
    if (inner_.SetFilePointer(handle_, static_cast<int32_t>(start & 0xFFFFFFFFu), &high,
                              platform::FILE_BEGIN) == platform::INVALID_SET_FILE_POINTER ||
        !inner_.ReadFile(handle_, window.bytes.data(), static_cast<uint32_t>(length), &moved)) {
        window.bytes.clear();
        return false;
    }
    window.bytes.resize(moved);
    window.start = start;
    return true;
}

bool ReadAhead::ReadFile(platform::Handle handle, void* buffer, uint32_t bytes,
                         uint32_t* transferred) {
    if (handle != handle_) return inner_.ReadFile(handle, buffer, bytes, transferred);
    const auto holds = [this, bytes](const Window& w) {
        return position_ >= w.start && position_ + bytes <= w.start + w.bytes.size();
    };
    Window* window = std::find_if(std::begin(windows_), std::end(windows_), holds);
    if (window == std::end(windows_)) {
        window = std::min_element(std::begin(windows_), std::end(windows_),
                                  [](const Window& a, const Window& b) { return a.used < b.used; });
        // A window that cannot be read (a bad sector in it, the end of the
        // disk) leaves the request to the device as it was asked, with its
        // own answer.
        if (position_ >= diskBytes_ || !fill(*window, position_) || !holds(*window)) {
            int32_t high = static_cast<int32_t>(position_ >> 32);
            if (inner_.SetFilePointer(handle_, static_cast<int32_t>(position_ & 0xFFFFFFFFu), &high,
                                      platform::FILE_BEGIN) == platform::INVALID_SET_FILE_POINTER)
                return false;
            const bool read = inner_.ReadFile(handle_, buffer, bytes, transferred);
            if (read && transferred != nullptr) position_ += *transferred;
            return read;
        }
    }
    window->used = ++reads_;
    std::memcpy(buffer, window->bytes.data() + (position_ - window->start), bytes);
    position_ += bytes;
    if (transferred != nullptr) *transferred = bytes;
    return true;
}
