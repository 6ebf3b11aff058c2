#include "platform/linux/invoking_user.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

bool invokingUser(InvokingUser& user) {
    if (::geteuid() != 0) return false;
    const char* named = std::getenv("PKEXEC_UID");
    if (named == nullptr) named = std::getenv("SUDO_UID");
    if (named == nullptr || named[0] == '\0') return false;
    char* end = nullptr;
    const unsigned long number = std::strtoul(named, &end, 10);
    if (*end != '\0' || number == 0) return false;
    const passwd* entry = ::getpwuid(static_cast<uid_t>(number));
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return false;
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    user.home = entry->pw_dir;
    return true;
}

}  // namespace platform
