#include "tools/os_services.h"

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <string>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

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

std::string programFile() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (length == 0 || length >= std::size(path)) return std::string();
    const std::wstring file(path, length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, file.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, file.c_str(), -1, &result[0], bytes, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

std::string programFolder() {
    const std::string file = programFile();
    const std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

void interruptProcess(int64_t, int) {
    // Ctrl-C, Ctrl-Break and closing the console reach every process attached
    // to the console, and the children share the parent's.
}

bool outputIsTerminal() {
    // A console that takes the VT sequences that rewrite a line in place.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}
