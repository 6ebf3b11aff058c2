// The user's local application data folder, read as wide text so that a
// user name outside the ANSI code page survives. The manifest's elevation
// keeps the user's own profile, so nothing changes hands.
#include "platform/state_folder.h"

#include <cstdlib>

namespace platform {

std::filesystem::path userStateFolder() {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') return std::filesystem::path();
    return std::filesystem::path(local);
}

std::vector<DataFolder> installedDataFolders(const std::string&) { return {}; }

}  // namespace platform
