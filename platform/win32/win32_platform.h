#pragma once
// The Windows backend: each call of platform.h is the Windows call of the same
// name with the caller's arguments. Only sector transfers differ: they pass
// through an aligned buffer, since handles opened with FILE_FLAG_NO_BUFFERING
// need sector-aligned memory and callers hand in ordinary buffers.

#include "platform/platform.h"

namespace platform {

class Win32Platform final : public Platform {
public:
    Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                       uint32_t flags) override;
    Handle CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                       uint32_t disposition, uint32_t flags) override;
    bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) override;
    uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                            uint32_t moveMethod) override;
    bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) override;
    bool WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                   uint32_t* transferred) override;
    bool FlushFileBuffers(Handle handle) override;
    bool CloseHandle(Handle handle) override;
    uint32_t GetLastError() override;
    Handle CreateMutexW(const char16_t* name) override;
    uint32_t GetLogicalDrives() override;
    uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                             uint32_t maxChars) override;
    Handle FindFirstVolumeW(char16_t* name, uint32_t maxChars) override;
    bool FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) override;
    bool FindVolumeClose(Handle find) override;
    // "X:\": Windows mounts volumes itself and remounts them on access.
    std::string volumeRoot(char letter) override;
    // The volume's name with its trailing separator: file paths under it
    // reach the volume with or without a letter.
    std::string volumeNameRoot(const char16_t* name) override;
    DeviceNode deviceNode(const std::string& path) override;
    void releaseVolumeRoots() override;
    void OutputDebugStringA(const char* text) override;
    uint64_t GetTickCount64() override;
    void Sleep(uint32_t milliseconds) override;
};

}  // namespace platform
