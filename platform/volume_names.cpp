#include "platform/volume_names.h"

#include <cstdio>

namespace platform {
namespace {

constexpr size_t KEY_BYTES = 16;
constexpr char NAME_PREFIX[] = "\\\\?\\Volume{";
constexpr char DEVICE_PREFIX[] = "\\\\.\\Volume{";
constexpr size_t PREFIX_CHARS = sizeof NAME_PREFIX - 1;
constexpr size_t GUID_CHARS = 36;
// Where the GUID's groups are broken by a '-'.
bool dashAt(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string volumeNameOfKey(const std::string& key) {
    std::string hex;
    for (size_t i = 0; i < KEY_BYTES; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x",
                      i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
        hex += pair;
    }
    std::string guid;
    for (size_t i = 0, h = 0; i < GUID_CHARS; ++i) guid += dashAt(i) ? '-' : hex[h++];
    return NAME_PREFIX + guid + "}\\";
}

std::optional<std::string> keyOfVolumeName(const std::string& path) {
    if (path.compare(0, PREFIX_CHARS, NAME_PREFIX) != 0 &&
        path.compare(0, PREFIX_CHARS, DEVICE_PREFIX) != 0)
        return std::nullopt;
    std::string rest = path.substr(PREFIX_CHARS);
    if (!rest.empty() && rest.back() == '\\') rest.pop_back();
    if (rest.size() != GUID_CHARS + 1 || rest.back() != '}') return std::nullopt;
    std::string key;
    int high = -1;
    for (size_t i = 0; i < GUID_CHARS; ++i) {
        if (dashAt(i)) {
            if (rest[i] != '-') return std::nullopt;
            continue;
        }
        const int value = hexValue(rest[i]);
        if (value < 0) return std::nullopt;
        if (high < 0) {
            high = value;
            continue;
        }
        const char byte = static_cast<char>(high * 16 + value);
        high = -1;
        if (byte == '\0') break;
        key += byte;
    }
    if (key.empty()) return std::nullopt;
    return key;
}

bool putVolumeName(const std::string& name, char16_t* out, uint32_t maxChars, uint32_t& error) {
    if (out == nullptr || name.size() + 1 > maxChars) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) out[i] = static_cast<unsigned char>(name[i]);
    out[name.size()] = u'\0';
    error = ERROR_SUCCESS;
    return true;
}

Handle VolumeSearches::first(std::vector<std::string> names, char16_t* out, uint32_t maxChars,
                             uint32_t& error) {
    if (names.empty()) {
        error = ERROR_NO_MORE_FILES;
        return INVALID_HANDLE_VALUE;
    }
    if (!putVolumeName(names.front(), out, maxChars, error)) return INVALID_HANDLE_VALUE;
    const Handle search = nextHandle_++;
    searches_[search] = Search{std::move(names), 1};
    return search;
}

bool VolumeSearches::next(Handle search, char16_t* out, uint32_t maxChars, uint32_t& error) {
    auto it = searches_.find(search);
    if (it == searches_.end()) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    Search& walk = it->second;
    if (walk.at >= walk.names.size()) {
        error = ERROR_NO_MORE_FILES;
        return false;
    }
    if (!putVolumeName(walk.names[walk.at], out, maxChars, error)) return false;
    ++walk.at;
    return true;
}

bool VolumeSearches::close(Handle search, uint32_t& error) {
    if (searches_.erase(search) == 0) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

}  // namespace platform
