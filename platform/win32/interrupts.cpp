#include "platform/interrupts.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<void (*)(int)> currentHandler{nullptr};
std::atomic<bool> arrived{false};
constexpr int EXIT_INTERRUPTED = 128 + 2;  // as SIGINT
constexpr int EXIT_HUNG_UP = 128 + 1;      // as SIGHUP: the console window closed
constexpr int EXIT_TERMINATED = 128 + 15;  // as SIGTERM: log-off, shut-down
// How long the process's end waits for the session's window still being
// made; wine may have to start its desktop process first.
constexpr DWORD WINDOW_WAIT_MS = 10000;
// Set once the session's window is there or cannot be made; null until
// onInterrupt starts its thread.
std::atomic<HANDLE> windowSettled{nullptr};

// The process never ends while the thread is still making the window (under
// wine such an exit could hang or be killed); the wait is taken at the end,
// not at the set-up, so that the GUI thread that sets up is never held.
void awaitSessionWindow() {
    const HANDLE settled = windowSettled.load();
    if (settled != nullptr) WaitForSingleObject(settled, WINDOW_WAIT_MS);
}

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
    arrived.store(true);
    void (*handler)(int) = currentHandler.load();
    if (handler != nullptr) handler(status);
    awaitSessionWindow();
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

// Sets `ready` (an event) once the window is there or cannot be made.
DWORD WINAPI watchSession(LPVOID ready) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = sessionWindow;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZelSessionEnd";
    // Never shown; a message-only window would not be told of the session's end.
    const bool made = RegisterClassW(&windowClass) != 0 &&
                      CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                      nullptr, nullptr, windowClass.hInstance, nullptr) != nullptr;
    SetEvent(static_cast<HANDLE>(ready));
    if (!made) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

}  // namespace

void onInterrupt(void (*handler)(int)) {
    currentHandler.store(handler);
    SetConsoleCtrlHandler(consoleEvent, TRUE);
    static const bool watching = [] {
        // Returns at once: the window is made on the watcher's thread, and
        // only the process's end waits for it (awaitSessionWindow).
        const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (ready == nullptr) return false;
        // The event stays open: the thread sets it whenever it gets there.
        windowSettled.store(ready);
        std::atexit(awaitSessionWindow);
        const HANDLE watcher = CreateThread(nullptr, 0, watchSession, ready, 0, nullptr);
        if (watcher == nullptr) {
            SetEvent(ready);  // no window will come
            return false;
        }
        CloseHandle(watcher);
        return true;
    }();
    (void)watching;
}

void waitForArrivedInterrupt() {
    if (!arrived.load()) return;
    // The event's thread ends the process.
    for (;;) Sleep(INFINITE);
}

void restoreInterruptDefaults() {
    currentHandler.store(nullptr);
    SetConsoleCtrlHandler(consoleEvent, FALSE);
}

}  // namespace platform
