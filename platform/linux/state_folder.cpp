// The XDG base directory rules: $XDG_STATE_HOME when it is an absolute path,
// else $HOME/.local/state. Started through pkexec or sudo the program is root
// with root's home, but its files belong to the user who started it.
#include "platform/state_folder.h"

#include "platform/linux/invoking_user.h"

#include <cstdlib>

namespace platform {

std::filesystem::path userStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::filesystem::path(state);
    InvokingUser user;
    if (invokingUser(user)) return std::filesystem::path(user.home) / ".local" / "state";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::filesystem::path();
    return std::filesystem::path(home) / ".local" / "state";
}

std::vector<DataFolder> installedDataFolders(const std::string& name) {
    std::vector<DataFolder> folders;
    const std::string described =
        "$XDG_DATA_HOME/" + name + " (by default ~/.local/share/" + name + ")";
    const char* data = std::getenv("XDG_DATA_HOME");
    InvokingUser user;
    const char* home = std::getenv("HOME");
    if (data != nullptr && data[0] == '/')
        folders.push_back({described, std::filesystem::path(data) / name});
    else if (invokingUser(user))
        folders.push_back({described, std::filesystem::path(user.home) / ".local" / "share" / name});
    else if (home != nullptr && home[0] != '\0')
        folders.push_back({described, std::filesystem::path(home) / ".local" / "share" / name});
    else
        folders.push_back({described, std::filesystem::path()});
    folders.push_back({"/usr/share/" + name, std::filesystem::path("/usr/share") / name});
    return folders;
}

}  // namespace platform
