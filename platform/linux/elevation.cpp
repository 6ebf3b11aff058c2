// Elevation on Linux: the program, started without root, runs itself again
// through pkexec. The polkit action installed with the program names its
// executable and lets it keep the display; --keep-cwd keeps the working
// directory, where the boot files are found.
#include "platform/elevation.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

namespace platform {
namespace {

// pkexec's results when the user dismissed the dialog or was not authorised.
constexpr int PKEXEC_DISMISSED = 126;
constexpr int PKEXEC_NOT_AUTHORIZED = 127;

std::string ownExecutable() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

bool needsElevation() {
    return ::geteuid() != 0;
}

bool runElevatedCopy(int argc, char** argv, int* exitCode) {
    const std::string executable = ownExecutable();
    if (executable.empty()) return false;

    std::vector<char*> arguments;
    std::string pkexec = "pkexec", keepCwd = "--keep-cwd";
    arguments.push_back(&pkexec[0]);
    arguments.push_back(&keepCwd[0]);
    std::string program = executable;
    arguments.push_back(&program[0]);
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::execvp(arguments[0], arguments.data());
        ::_exit(PKEXEC_NOT_AUTHORIZED);  // no pkexec on this system
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == PKEXEC_DISMISSED || code == PKEXEC_NOT_AUTHORIZED) return false;
        *exitCode = code;
        return true;
    }
    // The elevated copy ended abnormally: pass that on as a failure.
    *exitCode = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return true;
}

}  // namespace platform
