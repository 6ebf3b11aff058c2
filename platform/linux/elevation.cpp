// Elevation on Linux: the program, started without root, runs itself again
// through pkexec. The polkit action installed with the program names its
// executable and lets it keep the display; --keep-cwd keeps the working
// directory, where the boot files are found.
#include "platform/elevation.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform {
namespace {

// pkexec's results when the user dismissed the dialog, or was not authorised
// (also when no authentication agent could ask): its manual's RETURN VALUE.
constexpr int PKEXEC_DISMISSED = 126;
constexpr int PKEXEC_NOT_AUTHORIZED = 127;
// What pkexec says on stderr when nobody is there to ask the user: no agent,
// or no polkit service to find one (no system bus: "Error getting authority").
const char* const NO_AGENT_TEXTS[] = {"authentication agent", "Error getting authority"};
// How much of what comes on stderr is kept to look for it: pkexec speaks
// before the copy starts, so its words come first.
constexpr std::size_t KEPT_STDERR_BYTES = 4096;
constexpr int POLL_MS = 200;

std::string ownExecutable() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    return std::string(path, static_cast<std::size_t>(length));
}

// pkexec's path on the PATH; empty when there is none.
std::string findPkexec() {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folders.find(':', start);
        const std::string folder =
            folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/pkexec";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

// Passes what comes on `from` on to this process's stderr, keeping its start,
// until the pipe closes or the child has ended (a process the copy left
// behind may hold the pipe open).
void relayStderr(int from, pid_t child, int* status, bool* ended, std::string* kept) {
    char buffer[1024];
    for (;;) {
        pollfd watched = {from, POLLIN, 0};
        const int ready = ::poll(&watched, 1, POLL_MS);
        if (ready > 0) {
            const ssize_t got = ::read(from, buffer, sizeof buffer);
            if (got > 0) {
                if (::write(STDERR_FILENO, buffer, static_cast<std::size_t>(got)) < 0) {
                    // Nobody reads our stderr: the words are still kept.
                }
                if (kept->size() < KEPT_STDERR_BYTES)
                    kept->append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            return;  // closed
        }
        if (ready < 0 && errno != EINTR) return;
        if (!*ended && ::waitpid(child, status, WNOHANG) == child) *ended = true;
        if (*ended) return;
    }
}

}  // namespace

bool needsElevation() {
    return ::geteuid() != 0;
}

Elevation runElevatedCopy(int argc, char** argv, int* exitCode) {
    const std::string executable = ownExecutable();
    std::string pkexec = findPkexec();
    if (executable.empty() || pkexec.empty()) return Elevation::NoHelper;

    std::vector<char*> arguments;
    std::string keepCwd = "--keep-cwd";
    arguments.push_back(&pkexec[0]);
    arguments.push_back(&keepCwd[0]);
    std::string program = executable;
    arguments.push_back(&program[0]);
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);

    int errors[2];
    if (::pipe(errors) != 0) return Elevation::NoHelper;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(errors[0]);
        ::close(errors[1]);
        return Elevation::NoHelper;
    }
    if (child == 0) {
        ::close(errors[0]);
        ::dup2(errors[1], STDERR_FILENO);
        ::close(errors[1]);
        ::execv(arguments[0], arguments.data());
        ::_exit(PKEXEC_NOT_AUTHORIZED);
    }
    ::close(errors[1]);
    int status = 0;
    bool ended = false;
    std::string said;
    relayStderr(errors[0], child, &status, &ended, &said);
    ::close(errors[0]);
    while (!ended) {
        if (::waitpid(child, &status, 0) == child)
            ended = true;
        else if (errno != EINTR)
            return Elevation::NoHelper;
    }
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == PKEXEC_DISMISSED) return Elevation::Dismissed;
        if (code == PKEXEC_NOT_AUTHORIZED) {
            for (const char* text : NO_AGENT_TEXTS)
                if (said.find(text) != std::string::npos) return Elevation::NoAgent;
            return Elevation::NotAuthorized;
        }
        *exitCode = code;
        return Elevation::Ran;
    }
    // The elevated copy ended abnormally: pass that on as a failure.
    *exitCode = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return Elevation::Ran;
}

}  // namespace platform
