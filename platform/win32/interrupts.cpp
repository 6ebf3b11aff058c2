#include "platform/interrupts.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<void (*)(int)> currentHandler{nullptr};
constexpr int EXIT_INTERRUPTED = 128 + 2;  // as SIGINT
constexpr int EXIT_HUNG_UP = 128 + 1;      // as SIGHUP: the console window closed
constexpr int EXIT_TERMINATED = 128 + 15;  // as SIGTERM: log-off, shut-down

int exitStatusOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return EXIT_INTERRUPTED;
    case CTRL_CLOSE_EVENT:
        return EXIT_HUNG_UP;
    default:
        return EXIT_TERMINATED;
    }
}

// The console runs this on a thread of its own. After a close, log-off or
// shut-down event Windows ends the process once the handler returns (or
// after its time-out), so the handler does the whole clean-up itself.
BOOL WINAPI consoleEvent(DWORD event) {
    const int status = exitStatusOf(event);
    void (*handler)(int) = currentHandler.load();
    if (handler != nullptr) handler(status);
    ExitProcess(static_cast<UINT>(status));
    return TRUE;
}

}  // namespace

void onInterrupt(void (*handler)(int)) {
    currentHandler.store(handler);
    SetConsoleCtrlHandler(consoleEvent, TRUE);
}

void restoreInterruptDefaults() {
    currentHandler.store(nullptr);
    SetConsoleCtrlHandler(consoleEvent, FALSE);
}

}  // namespace platform
