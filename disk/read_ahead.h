#pragma once
// Reads of one drive handle served from larger requests: a reader that asks
// for one sector at a time (the card checker's FAT reader) would otherwise
// cost one device request a sector, which a card reader answers at a few
// dozen requests a second. While it is in force, every other call goes to the
// backend it wraps unchanged. The bytes still come from the device: the
// windows are read through the handle as it was opened (unbuffered), and are
// dropped with the object.

#include "platform/platform.h"

#include <cstdint>
#include <vector>

class ReadAhead final : public platform::Platform {
public:
    // Reads of `handle` (of `diskBytes` bytes) through `inner`, in requests
    // of WINDOW_BYTES where the disk reaches that far.
    ReadAhead(platform::Platform& inner, platform::Handle handle, uint64_t diskBytes);

    static constexpr uint32_t WINDOW_BYTES = 256 * 1024;

    platform::Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                                 uint32_t disposition, uint32_t flags) override {
        return inner_.CreateFileA(path, access, shareMode, disposition, flags);
    }
    platform::Handle CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                                 uint32_t disposition, uint32_t flags) override {
        return inner_.CreateFileW(path, access, shareMode, disposition, flags);
    }
    bool DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* bytesReturned) override {
        return inner_.DeviceIoControl(handle, code, in, inSize, out, outSize, bytesReturned);
    }
    uint32_t SetFilePointer(platform::Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                            uint32_t moveMethod) override;
    bool ReadFile(platform::Handle handle, void* buffer, uint32_t bytes,
                  uint32_t* transferred) override;
    bool WriteFile(platform::Handle handle, const void* buffer, uint32_t bytes,
                   uint32_t* transferred) override {
        return inner_.WriteFile(handle, buffer, bytes, transferred);
    }
    bool FlushFileBuffers(platform::Handle handle) override { return inner_.FlushFileBuffers(handle); }
    bool CloseHandle(platform::Handle handle) override { return inner_.CloseHandle(handle); }
    uint32_t GetLastError() override { return inner_.GetLastError(); }
    platform::Handle CreateMutexW(const char16_t* name) override { return inner_.CreateMutexW(name); }
    uint32_t GetLogicalDrives() override { return inner_.GetLogicalDrives(); }
    uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                             uint32_t maxChars) override {
        return inner_.QueryDosDeviceW(deviceName, target, maxChars);
    }
    platform::Handle FindFirstVolumeW(char16_t* name, uint32_t maxChars) override {
        return inner_.FindFirstVolumeW(name, maxChars);
    }
    bool FindNextVolumeW(platform::Handle find, char16_t* name, uint32_t maxChars) override {
        return inner_.FindNextVolumeW(find, name, maxChars);
    }
    bool FindVolumeClose(platform::Handle find) override { return inner_.FindVolumeClose(find); }
    std::string volumeRoot(char letter) override { return inner_.volumeRoot(letter); }
    std::string volumeNameRoot(const char16_t* name) override { return inner_.volumeNameRoot(name); }
    void releaseVolumeRoots() override { inner_.releaseVolumeRoots(); }
    platform::DeviceNode deviceNode(const std::string& path) override { return inner_.deviceNode(path); }
    void OutputDebugStringA(const char* text) override { inner_.OutputDebugStringA(text); }
    uint64_t GetTickCount64() override { return inner_.GetTickCount64(); }
    void Sleep(uint32_t milliseconds) override { inner_.Sleep(milliseconds); }

private:
    struct Window {
        uint64_t start = 0;
        std::vector<uint8_t> bytes;
        uint64_t used = 0;  // when it last served a read
    };
    bool fill(Window& window, uint64_t start);

    platform::Platform& inner_;
    platform::Handle handle_;
    uint64_t diskBytes_;
    uint64_t position_ = 0;
    uint64_t reads_ = 0;
    // Two, so that a file's clusters and the FAT sectors that chain them do
    // not push each other out.
    Window windows_[2];
};
