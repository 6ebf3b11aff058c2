// Log files through handles opened with FILE_FLAG_OPEN_REPARSE_POINT, so a
// symbolic link or junction is opened as itself and refused, never followed;
// the type is checked on the handle (GetFileType, GetFileInformationByHandle).
// The folder is held open without delete sharing, so it cannot be renamed or
// swapped for a link while the run uses it. Nothing changes hands: the
// elevated run writes in the user's own profile.
#include "platform/log_file.h"

#include <windows.h>

#include <algorithm>

namespace platform {
namespace {

HANDLE asHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string systemReason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty()) return "error " + std::to_string(error);
    return std::filesystem::path(wide).u8string() + " (error " + std::to_string(error) + ")";
}

// What the object behind `handle` is, for a refusal; empty for a file.
std::string notARegularFile(HANDLE handle) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) return "is not a regular file (a device or a pipe)";
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information)) return "is not a regular file";
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "is a symbolic link";
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder";
    return std::string();
}

// What the attributes of a name say, for a refusal before anything is opened.
std::string refusedByAttributes(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "is a symbolic link";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder";
    return std::string();
}

bool writeAll(HANDLE handle, const std::string& bytes, std::string& why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            why = systemReason(::GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

bool LogFile::append(const std::string& bytes, std::string& why) {
    if (!isOpen()) {
        why = "the log is not open";
        return false;
    }
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(asHandle(handle_), end, nullptr, FILE_END)) {
        why = systemReason(::GetLastError());
        return false;
    }
    return writeAll(asHandle(handle_), bytes, why);
}

bool LogFile::replace(const std::string& bytes, std::string& why) {
    if (!isOpen()) {
        why = "the log is not open";
        return false;
    }
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(asHandle(handle_), start, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(asHandle(handle_))) {
        why = systemReason(::GetLastError());
        return false;
    }
    return writeAll(asHandle(handle_), bytes, why);
}

void LogFile::close() {
    if (handle_ == CLOSED) return;
    ::CloseHandle(asHandle(handle_));
    handle_ = CLOSED;
}

LogOpen openNamedLog(const std::filesystem::path& file, LogFile& log, std::string& why,
                     std::string& notice) {
    notice.clear();
    why = refusedByAttributes(::GetFileAttributesW(file.c_str()));
    if (!why.empty()) return LogOpen::Refused;
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        why = systemReason(error);
        return LogOpen::Failed;
    }
    why = notARegularFile(handle);
    if (!why.empty()) {
        ::CloseHandle(handle);
        return LogOpen::Refused;
    }
    if (!::SetEndOfFile(handle)) {
        why = systemReason(::GetLastError());
        ::CloseHandle(handle);
        return LogOpen::Failed;
    }
    log = LogFile(reinterpret_cast<intptr_t>(handle));
    return LogOpen::Opened;
}

LogFolder::~LogFolder() {
    if (handle_ != LogFile::CLOSED) ::CloseHandle(asHandle(handle_));
}

bool LogFolder::open(const std::filesystem::path& folder, std::string& why) {
    path_ = folder;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    why = refusedByAttributes(::GetFileAttributesW(folder.c_str()));
    if (why == "is a folder") why.clear();
    if (!why.empty()) return false;
    const HANDLE handle = ::CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = systemReason(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "is a symbolic link"
                                                                             : "is not a folder";
        ::CloseHandle(handle);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    return true;
}

std::vector<std::string> LogFolder::regularFiles() const {
    std::vector<std::string> names;
    if (handle_ == LogFile::CLOSED) return names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((path_ / L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        names.push_back(std::filesystem::path(found.cFileName).u8string());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

void LogFolder::removeRegularFile(const std::string& name) const {
    if (handle_ == LogFile::CLOSED || name.find_first_of("/\\:") != std::string::npos) return;
    const std::filesystem::path file = path_ / std::filesystem::u8path(name);
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return;
    // DeleteFileW removes a link itself, never its target.
    ::DeleteFileW(file.c_str());
}

LogFolder::Create LogFolder::createFile(const std::string& name, LogFile& log, std::string& why,
                                        std::string& notice) const {
    notice.clear();
    if (handle_ == LogFile::CLOSED || name.find_first_of("/\\:") != std::string::npos) {
        why = "no folder";
        return Create::Failed;
    }
    const std::filesystem::path file = path_ / std::filesystem::u8path(name);
    const HANDLE handle =
        ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Create::Exists;
        why = systemReason(error);
        return Create::Failed;
    }
    log = LogFile(reinterpret_cast<intptr_t>(handle));
    return Create::Made;
}

}  // namespace platform
