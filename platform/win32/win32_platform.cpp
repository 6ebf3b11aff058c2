#include "platform/win32/win32_platform.h"

#include <cstring>
#include <string>

namespace platform {
namespace {
// Taken before <windows.h>, whose macros of the same names hide these.
constexpr Handle kInvalidHandle = INVALID_HANDLE_VALUE;
}  // namespace
}  // namespace platform

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is 16-bit");
static_assert(sizeof(HANDLE) == sizeof(platform::Handle), "handles keep their bits");

namespace platform {
namespace {

constexpr SIZE_T kAlignment = 4096;  // a page: aligned for every sector size

HANDLE native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(handle);
}

// Page-aligned memory for one transfer; freed without disturbing the thread's last error.
class AlignedBuffer {
public:
    explicit AlignedBuffer(uint32_t bytes) {
        SIZE_T rounded = (SIZE_T{bytes} + kAlignment - 1) / kAlignment * kAlignment;
        data_ = ::VirtualAlloc(nullptr, rounded == 0 ? kAlignment : rounded,
                               MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~AlignedBuffer() {
        if (data_ == nullptr) return;
        DWORD error = ::GetLastError();
        ::VirtualFree(data_, 0, MEM_RELEASE);
        ::SetLastError(error);
    }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    void* data() const { return data_; }

private:
    void* data_ = nullptr;
};

}  // namespace

Handle Win32Platform::CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                                  uint32_t disposition, uint32_t flags) {
    return wrap(::CreateFileA(path, access, shareMode, nullptr, disposition, flags, nullptr));
}

Handle Win32Platform::CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                                  uint32_t disposition, uint32_t flags) {
    return wrap(::CreateFileW(reinterpret_cast<const wchar_t*>(path), access, shareMode, nullptr,
                              disposition, flags, nullptr));
}

bool Win32Platform::DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                    void* out, uint32_t outSize, uint32_t* bytesReturned) {
    DWORD returned = 0;
    BOOL ok = ::DeviceIoControl(native(handle), code, const_cast<void*>(in), inSize, out, outSize,
                                &returned, nullptr);
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok != FALSE;
}

uint32_t Win32Platform::SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                       uint32_t moveMethod) {
    LONG high = distanceHigh != nullptr ? *distanceHigh : 0;
    DWORD low = ::SetFilePointer(native(handle), distanceLow,
                                 distanceHigh != nullptr ? &high : nullptr, moveMethod);
    if (distanceHigh != nullptr) *distanceHigh = high;
    return low;
}

bool Win32Platform::ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    AlignedBuffer bounce(bytes);
    if (bounce.data() == nullptr) return false;
    DWORD done = 0;
    BOOL ok = ::ReadFile(native(handle), bounce.data(), bytes, &done, nullptr);
    if (ok != FALSE && done > 0) std::memcpy(buffer, bounce.data(), done);
    if (transferred != nullptr) *transferred = done;
    return ok != FALSE;
}

bool Win32Platform::WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                              uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    AlignedBuffer bounce(bytes);
    if (bounce.data() == nullptr) return false;
    if (bytes > 0) std::memcpy(bounce.data(), buffer, bytes);
    DWORD done = 0;
    BOOL ok = ::WriteFile(native(handle), bounce.data(), bytes, &done, nullptr);
    if (transferred != nullptr) *transferred = done;
    return ok != FALSE;
}

bool Win32Platform::FlushFileBuffers(Handle handle) {
    return ::FlushFileBuffers(native(handle)) != FALSE;
}

bool Win32Platform::CloseHandle(Handle handle) { return ::CloseHandle(native(handle)) != FALSE; }

uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

// The guard is the mutex object's existence, not its ownership: it lasts
// while a handle to the name is open and goes with the last one, also when
// its process ends (CreateMutexW's remarks). Whether or not the creator owns
// it does not matter, so any thread may close it. A name held by another
// process's object whose rights keep us out is refused with
// ERROR_ACCESS_DENIED, which is taken as held as well.
Handle Win32Platform::CreateMutexW(const char16_t* name) {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name));
    const DWORD error = ::GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return reinterpret_cast<Handle>(mutex);
    if (mutex != nullptr) ::CloseHandle(mutex);
    ::SetLastError(mutex != nullptr || error == ERROR_ACCESS_DENIED ? ERROR_ALREADY_EXISTS : error);
    return kInvalidHandle;
}

uint32_t Win32Platform::GetLogicalDrives() { return ::GetLogicalDrives(); }

uint32_t Win32Platform::QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                                        uint32_t maxChars) {
    return ::QueryDosDeviceW(reinterpret_cast<const wchar_t*>(deviceName),
                             reinterpret_cast<wchar_t*>(target), maxChars);
}

Handle Win32Platform::FindFirstVolumeW(char16_t* name, uint32_t maxChars) {
    return wrap(::FindFirstVolumeW(reinterpret_cast<wchar_t*>(name), maxChars));
}

bool Win32Platform::FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) {
    return ::FindNextVolumeW(native(find), reinterpret_cast<wchar_t*>(name), maxChars) != FALSE;
}

bool Win32Platform::FindVolumeClose(Handle find) { return ::FindVolumeClose(native(find)) != FALSE; }

std::string Win32Platform::volumeRoot(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return std::string();
    }
    if ((::GetLogicalDrives() & (1u << (letter - 'A'))) == 0) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return std::string();
    }
    // A letter in use may still hold no volume (a reader without a card, an
    // unformatted partition). Asking for the volume's details also mounts a
    // volume that was dismounted, as any access through the letter would.
    const std::string root{letter, ':', '\\'};
    if (!::GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
        return std::string();
    return root;
}

std::string Win32Platform::volumeNameRoot(const char16_t* name) {
    std::wstring root(reinterpret_cast<const wchar_t*>(name));
    if (root.empty() || root.back() != L'\\') root += L'\\';
    // As for a letter: the details are asked for, which mounts a dismounted
    // volume; a name that leads to no volume gives no root.
    if (!::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
        return std::string();
    // Volume names are ASCII ("\\?\Volume{GUID}\").
    std::string narrow;
    for (wchar_t c : root) {
        if (c > 0x7F) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return std::string();
        }
        narrow += static_cast<char>(c);
    }
    return narrow;
}

void Win32Platform::releaseVolumeRoots() {}

// Windows names drives only as "\\.\PhysicalDriveN", which the tools take as they are.
DeviceNode Win32Platform::deviceNode(const std::string&) { return DeviceNode(); }

void Win32Platform::OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

uint64_t Win32Platform::GetTickCount64() { return ::GetTickCount64(); }

void Win32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

std::unique_ptr<Platform> makeNativePlatform() {
    return std::make_unique<Win32Platform>();
}

}  // namespace platform
