// The XDG base directory rules: $XDG_STATE_HOME when it is an absolute path,
// else $HOME/.local/state. Started through pkexec or sudo the program is root
// with root's home, but its files belong to the user who started it.
#include "platform/state_folder.h"

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform {
namespace {

// The user root acts for: pkexec names it in PKEXEC_UID, sudo in SUDO_UID.
bool invokingUser(uid_t& uid, gid_t& gid, std::string& home) {
    if (::geteuid() != 0) return false;
    const char* named = std::getenv("PKEXEC_UID");
    if (named == nullptr) named = std::getenv("SUDO_UID");
    if (named == nullptr || named[0] == '\0') return false;
    char* end = nullptr;
    const unsigned long number = std::strtoul(named, &end, 10);
    if (*end != '\0' || number == 0) return false;
    const passwd* entry = ::getpwuid(static_cast<uid_t>(number));
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return false;
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    home = entry->pw_dir;
    return true;
}

}  // namespace

std::filesystem::path userStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::filesystem::path(state);
    uid_t uid = 0;
    gid_t gid = 0;
    std::string userHome;
    if (invokingUser(uid, gid, userHome)) return std::filesystem::path(userHome) / ".local" / "state";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::filesystem::path();
    return std::filesystem::path(home) / ".local" / "state";
}

std::vector<DataFolder> installedDataFolders(const std::string& name) {
    std::vector<DataFolder> folders;
    const std::string described =
        "$XDG_DATA_HOME/" + name + " (by default ~/.local/share/" + name + ")";
    const char* data = std::getenv("XDG_DATA_HOME");
    uid_t uid = 0;
    gid_t gid = 0;
    std::string userHome;
    const char* home = std::getenv("HOME");
    if (data != nullptr && data[0] == '/')
        folders.push_back({described, std::filesystem::path(data) / name});
    else if (invokingUser(uid, gid, userHome))
        folders.push_back({described, std::filesystem::path(userHome) / ".local" / "share" / name});
    else if (home != nullptr && home[0] != '\0')
        folders.push_back({described, std::filesystem::path(home) / ".local" / "share" / name});
    else
        folders.push_back({described, std::filesystem::path()});
    folders.push_back({"/usr/share/" + name, std::filesystem::path("/usr/share") / name});
    return folders;
}

void handOverToUser(const std::filesystem::path& path) {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
    // A file left to root stays usable to this run; the next run as the user
    // just cannot remove it.
    if (invokingUser(uid, gid, home) && ::chown(path.c_str(), uid, gid) != 0) return;
}

}  // namespace platform
