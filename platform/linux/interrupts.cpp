#include "platform/interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<void (*)(int)> currentHandler{nullptr};
// Counted in the signal handler, before the waiting thread may even run.
std::atomic<int> arrived{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted in a signal handler");
int wakePipe[2] = {-1, -1};
// Besides the stop requests: a closed output pipe (t6-card image ... | head)
// and the file size limit (ulimit -f) end the run as well, and must not leave
// its files behind either.
const int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// Signal context: only write(2), which is async-signal-safe; the work happens
// on the waiting thread, where locks and allocation are allowed.
void forwardSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    const int saved = errno;
    arrived.fetch_add(1);
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

void waitForArrivedInterrupt() {
    if (arrived.load() == 0) return;
    // The waiting thread ends the process, with or without a handler.
    for (;;) pause();
}

void restoreInterruptDefaults() {
    currentHandler.store(nullptr);
    for (int signal : INTERRUPT_SIGNALS) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == forwardSignal)
            std::signal(signal, SIG_DFL);
    }
}

}  // namespace platform
