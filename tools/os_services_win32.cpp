#include "tools/os_services.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::wstring wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], length);
    result.resize(result.size() - 1);
    return result;
}

}  // namespace

bool renameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), 0)) return true;
    reason = "error " + std::to_string(GetLastError());
    return false;
}

void stopProcess(int64_t pid) {
    if (pid <= 0) return;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return;
    TerminateProcess(process, 1);
    CloseHandle(process);
}
