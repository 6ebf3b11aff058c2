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

void endWith(int status) {
    void (*handler)(int) = currentHandler.load();
    if (handler != nullptr) handler(status);
    ExitProcess(static_cast<UINT>(status));
}

// The console runs this on a thread of its own. After a close, log-off or
// shut-down event Windows ends the process once the handler returns (or
// after its time-out), so the handler does the whole clean-up itself.
BOOL WINAPI consoleEvent(DWORD event) {
    endWith(exitStatusOf(event));
    return TRUE;
}

// A process that loads user32 (ours does) is not sent the console's log-off
// and shut-down events; the session's end comes to its top-level windows as
// WM_QUERYENDSESSION and WM_ENDSESSION instead. A hidden window on a thread of
// its own takes them. The session may end as soon as WM_ENDSESSION has been
// handled, so the clean-up runs inside it.
LRESULT CALLBACK sessionWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION && wParam != FALSE && currentHandler.load() != nullptr)
        endWith(EXIT_TERMINATED);
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI watchSession(LPVOID) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = sessionWindow;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZelSessionEnd";
    if (RegisterClassW(&windowClass) == 0) return 1;
    // Never shown; a message-only window would not be told of the session's end.
    if (CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                        windowClass.hInstance, nullptr) == nullptr)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

}  // namespace

void onInterrupt(void (*handler)(int)) {
    currentHandler.store(handler);
    SetConsoleCtrlHandler(consoleEvent, TRUE);
    static const HANDLE watcher = CreateThread(nullptr, 0, watchSession, nullptr, 0, nullptr);
    (void)watcher;
}

void restoreInterruptDefaults() {
    currentHandler.store(nullptr);
    SetConsoleCtrlHandler(consoleEvent, FALSE);
}

}  // namespace platform
