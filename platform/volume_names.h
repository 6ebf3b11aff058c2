#pragma once
// Volume names in the Windows form "\\?\Volume{GUID}\" for backends that make
// them up, and the searches that FindFirstVolumeW/FindNextVolumeW walk.
//
// A made-up name carries a short key (up to 16 bytes, such as "sdb1") in the
// digits of its GUID, so the name is the same each time and leads back to the
// volume without a table.

#include "platform/platform.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// "\\?\Volume{73646231-0000-0000-0000-000000000000}\" for the key "sdb1".
std::string volumeNameOfKey(const std::string& key);
// The key of a made-up name, with or without its trailing separator, after
// "\\?\" or "\\.\"; nothing for any other text.
std::optional<std::string> keyOfVolumeName(const std::string& path);
// Copies `name` into `out` (maxChars wide characters with the terminator);
// false with ERROR_FILENAME_EXCED_RANGE when it does not fit.
bool putVolumeName(const std::string& name, char16_t* out, uint32_t maxChars, uint32_t& error);

// Open searches over a list of names taken when each search began.
class VolumeSearches {
public:
    // A new search over `names`; INVALID_HANDLE_VALUE with ERROR_NO_MORE_FILES
    // when the list is empty, otherwise the first name goes out.
    Handle first(std::vector<std::string> names, char16_t* out, uint32_t maxChars, uint32_t& error);
    bool next(Handle search, char16_t* out, uint32_t maxChars, uint32_t& error);
    bool close(Handle search, uint32_t& error);

private:
    struct Search {
        std::vector<std::string> names;
        size_t at = 0;
    };
    std::map<Handle, Search> searches_;
    // Apart from every device handle a backend gives out.
    Handle nextHandle_ = 0x7f000000;
};

}  // namespace platform
