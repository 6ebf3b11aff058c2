#pragma once
// The user a root run acts for: pkexec names it in PKEXEC_UID, sudo in
// SUDO_UID. Files the run keeps for that user belong to that user.

#include <sys/types.h>

#include <string>

namespace platform {

struct InvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

// False when the program is not root, or no (valid, non-root) user is named.
bool invokingUser(InvokingUser& user);

}  // namespace platform
