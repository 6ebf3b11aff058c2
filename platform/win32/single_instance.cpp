// The single-instance guard on Windows: a named kernel mutex, and the running
// window found by its title.
#include "platform/single_instance.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

// Never closed while the program runs: the OS drops it when the process ends,
// which frees the name for the next start.
HANDLE guard = nullptr;

std::wstring wide(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

}  // namespace

bool claimSingleInstance(const char* name) {
    guard = CreateMutexW(nullptr, TRUE, wide(name).c_str());
    // Any other failure is not examined: the program runs as the first instance.
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

void releaseSingleInstance() {
    if (guard == nullptr) return;
    ReleaseMutex(guard);
    CloseHandle(guard);
    guard = nullptr;
}

void raiseRunningInstance(const char*, const std::u16string& title) {
    const std::wstring windowTitle(title.begin(), title.end());
    HWND window = FindWindowW(nullptr, windowTitle.c_str());
    if (window == nullptr) return;
    if (IsIconic(window)) OpenIcon(window);
    SetForegroundWindow(window);
}

void acceptRaiseRequests(const char*, const RaiseListener&) {
    // A later start finds this window by its title; nothing to listen for.
}

}  // namespace platform
