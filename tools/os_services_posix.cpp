#include "tools/os_services.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

bool renameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
#if defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        reason = std::strerror(errno);
        return false;
    }
#endif
    // File systems without renameat2: a hard link also fails on an existing name.
    if (link(from.c_str(), to.c_str()) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    unlink(from.c_str());
    return true;
}

void stopProcess(int64_t pid) {
    if (pid > 0) kill(static_cast<pid_t>(pid), SIGKILL);
}

std::string programFolder() {
    // Linux names the running program here; elsewhere there is no answer.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}

std::string programFile() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

void interruptProcess(int64_t pid, int exitStatus) {
    if (pid > 0 && exitStatus > 128) kill(static_cast<pid_t>(pid), exitStatus - 128);
}

bool outputIsTerminal() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

int terminalColumns() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
