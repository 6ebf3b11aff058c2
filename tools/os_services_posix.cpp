#include "tools/os_services.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<void (*)(int)> currentHandler{nullptr};
int wakePipe[2] = {-1, -1};
const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Signal context: only write(2), which is async-signal-safe; the work happens
// on the waiting thread, where locks and allocation are allowed.
void forwardSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = write(wakePipe[1], &number, 1);
    errno = saved;
}

void waitForSignals() {
    for (;;) {
        unsigned char number = 0;
        const ssize_t got = read(wakePipe[0], &number, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1) return;
        void (*handler)(int) = currentHandler.load();
        if (handler != nullptr) handler(128 + number);
        // Nobody to clean up after: end as the signal would have.
        _exit(128 + number);
    }
}

}  // namespace

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

void onInterrupt(void (*handler)(int)) {
    currentHandler.store(handler);
    static const bool started = [] {
        if (pipe(wakePipe) != 0) return false;
        fcntl(wakePipe[0], F_SETFD, FD_CLOEXEC);
        fcntl(wakePipe[1], F_SETFD, FD_CLOEXEC);
        std::thread(waitForSignals).detach();
        return true;
    }();
    if (!started) return;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : INTERRUPT_SIGNALS) {
        // A signal ignored by whoever started us (nohup, a background job)
        // stays ignored.
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

void restoreInterruptDefaults() {
    currentHandler.store(nullptr);
    for (int signal : INTERRUPT_SIGNALS) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == forwardSignal)
            std::signal(signal, SIG_DFL);
    }
}

std::string programFolder() {
    // Linux names the running program here; elsewhere there is no answer.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}
