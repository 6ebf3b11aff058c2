// The single-instance guard on Linux: an exclusive lock on a file in the
// user's runtime directory, and a local socket beside it at which the running
// copy listens for raise requests.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

// Held open for the life of the process; the kernel drops the lock at exit.
int guardFd = -1;

bool isDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The user who started the program: when it was relaunched as root through
// pkexec, the one who asked for it, so that both copies meet at one address.
bool invokingUser(uid_t* uid) {
    const char* value = std::getenv("PKEXEC_UID");
    if (::geteuid() != 0 || value == nullptr || *value == '\0') return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(value, &end, 10);
    if (*end != '\0') return false;
    *uid = static_cast<uid_t>(parsed);
    return true;
}

uid_t sessionUser() {
    uid_t uid = ::getuid();
    invokingUser(&uid);
    return uid;
}

// "<runtime dir>/<name>", or a per-user name in /tmp where there is none.
std::string guardPath(const char* name) {
    uid_t invoker = 0;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!invokingUser(&invoker) && runtime != nullptr && isDirectory(runtime))
        return std::string(runtime) + "/" + name;
    const std::string userRuntime = "/run/user/" + std::to_string(sessionUser());
    if (isDirectory(userRuntime)) return userRuntime + "/" + name;
    return "/tmp/" + std::string(name) + "-" + std::to_string(sessionUser());
}

// Files root creates for the session user must stay usable by that user.
void handToSessionUser(const std::string& path) {
    uid_t invoker = 0;
    if (invokingUser(&invoker)) {
        if (::chown(path.c_str(), invoker, static_cast<gid_t>(-1)) != 0) {
            // The guard still works for root; a later start by the user then
            // cannot reach it and runs as the first instance.
        }
    }
}

}  // namespace

bool claimSingleInstance(const char* name) {
    releaseSingleInstance();
    const std::string lockPath = guardPath(name) + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;  // no guard to be had: run as the first instance
    handToSessionUser(lockPath);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        ::close(fd);
        return !taken;
    }
    guardFd = fd;
    return true;
}

void releaseSingleInstance() {
    if (guardFd < 0) return;
    ::close(guardFd);
    guardFd = -1;
}

void raiseRunningInstance(const char* name, const std::u16string&) {
    const std::string address = guardPath(name);
    sockaddr_un peer {};
    if (address.size() >= sizeof peer.sun_path) return;
    peer.sun_family = AF_UNIX;
    std::memcpy(peer.sun_path, address.c_str(), address.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // No listener yet (the running copy has not shown its window): nothing to raise.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        static const char request[] = "raise\n";
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) {
            // The connection alone is the request; the text is a courtesy.
        }
    }
    ::close(fd);
}

void acceptRaiseRequests(const char* name, const RaiseListener& listen) {
    const std::string address = guardPath(name);
    // Whoever holds the guard owns the address: a socket left there is stale.
    if (guardFd >= 0) ::unlink(address.c_str());
    if (listen(address)) handToSessionUser(address);
}

}  // namespace platform
