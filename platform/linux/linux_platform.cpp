#include "platform/linux/linux_platform.h"

#include "platform/control_access.h"
#include "platform/linux/linux_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

using linuxos::BlockName;
using linuxos::Transfer;
using linuxos::windowsError;

thread_local uint32_t lastError = ERROR_SUCCESS;

constexpr uint32_t kBounceAlignment = 4096;
// The bounce buffer grows up to this; longer transfers go in pieces of it.
constexpr uint32_t kBounceLimit = 1u << 20;
constexpr size_t kHugePage = 2u << 20;
constexpr uint32_t FILE_CURRENT = 1;
constexpr uint32_t FILE_END = 2;

bool startsWithNoCase(const std::string& text, const char* prefix) {
    size_t length = std::strlen(prefix);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

constexpr const char* kDevicePrefix = "\\\\.\\";

// "\\.\PhysicalDrive3" -> 3; nothing for any other text.
std::optional<uint32_t> driveNumberOf(const std::string& path) {
    std::string prefix = std::string(kDevicePrefix) + "PhysicalDrive";
    if (!startsWithNoCase(path, prefix.c_str())) return std::nullopt;
    std::string digits = path.substr(prefix.size());
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    return static_cast<uint32_t>(std::stoul(digits));
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// "\\.\E:" -> 'E'; nothing for any other text.
std::optional<char> volumeLetterOf(const std::string& path) {
    std::string prefix = kDevicePrefix;
    if (path.size() != prefix.size() + 2 || path.compare(0, prefix.size(), prefix) != 0 ||
        path.back() != ':')
        return std::nullopt;
    char letter = upper(path[prefix.size()]);
    if (letter < 'A' || letter > 'Z') return std::nullopt;
    return letter;
}

}  // namespace

LinuxPlatform::LinuxPlatform(LinuxRoots roots)
    : roots_(std::move(roots)), sysfs_(roots_.sysfs), volumes_(sysfs_, roots_.dev, roots_.mountinfo) {}

LinuxPlatform::~LinuxPlatform() {
    for (auto& entry : devices_)
        if (entry.second.fd >= 0) ::close(entry.second.fd);
    for (auto& entry : guards_) ::close(entry.second);
}

bool LinuxPlatform::fail(uint32_t error) {
    lastError = error;
    return false;
}

uint32_t LinuxPlatform::GetLastError() { return lastError; }

void LinuxPlatform::OutputDebugStringA(const char* text) {
    if (text == nullptr) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}

Handle LinuxPlatform::CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                                  uint32_t disposition, uint32_t flags) {
    if (path == nullptr) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    return open(path, access, shareMode, disposition, flags);
}

Handle LinuxPlatform::CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                                  uint32_t disposition, uint32_t flags) {
    if (path == nullptr) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Device names are plain ASCII; anything else cannot name one.
    std::string narrow;
    for (const char16_t* unit = path; *unit != 0; ++unit) {
        if (*unit >= 0x80) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        narrow += static_cast<char>(*unit);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    return open(narrow, access, shareMode, disposition, flags);
}

Handle LinuxPlatform::open(const std::string& path, uint32_t access, uint32_t shareMode,
                           uint32_t disposition, uint32_t flags) {
    if (disposition != OPEN_EXISTING) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    OpenDevice device;
    if (std::optional<uint32_t> drive = driveNumberOf(path)) {
        std::optional<BlockName> name = BlockName::ofDrive(*drive);
        if (!name) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        device.name = *name;
    } else if (std::optional<char> letter = volumeLetterOf(path)) {
        volumes_.refresh();
        std::optional<BlockName> name = volumes_.volumeOf(*letter);
        if (!name) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        device.name = *name;
        device.volume = true;
    } else if (std::optional<std::string> key = keyOfVolumeName(path)) {
        volumes_.refresh();
        std::optional<BlockName> name = BlockName::parse(*key);
        if (!name || !volumes_.known(*name)) {
            fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        device.name = *name;
        device.volume = true;
    } else {
        fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    device.access = access & (GENERIC_READ | GENERIC_WRITE);
    const bool query = device.access == 0;  // the node is not held open
    device.exclusive = shareMode == 0 && !query;
    bool write = (access & GENERIC_WRITE) != 0;
    bool direct = (flags & FILE_FLAG_NO_BUFFERING) != 0;
    std::string nodePath = volumes_.devicePath(device.name);
    if (query) {
        // The node must be there; it is opened only when a question needs it.
        struct stat info {};
        if (::stat(nodePath.c_str(), &info) != 0) {
            fail(windowsError(errno));
            return INVALID_HANDLE_VALUE;
        }
        device.regularFile = S_ISREG(info.st_mode);
        Handle handle = nextHandle_;
        nextHandle_ += 4;
        devices_[handle] = device;
        return handle;
    }
    auto tryOpen = [&](bool forWrite) {
        int mode = O_CLOEXEC | (forWrite ? O_RDWR : O_RDONLY) | (device.exclusive ? O_EXCL : 0);
        int fd = ::open(nodePath.c_str(), mode | (direct ? O_DIRECT : 0));
        if (fd < 0 && direct && errno == EINVAL) {
            // File systems such as tmpfs refuse O_DIRECT; image files there still work.
            direct = false;
            fd = ::open(nodePath.c_str(), mode);
        }
        return fd;
    };
    // Without the rights to write, an open for writing fails, as on Windows:
    // no read-only handle stands in for it. A write-protected medium is
    // another matter: Windows opens it and refuses its writes.
    if (write && sysfs_.readOnly(device.name.disk)) {
        write = false;
        device.writeProtected = true;
    }
    int fd = tryOpen(write);
    if (fd < 0 && write && errno == EROFS) {
        device.writeProtected = true;
        fd = tryOpen(false);
    }
    if (fd < 0) {
        fail(windowsError(errno));
        return INVALID_HANDLE_VALUE;
    }

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        int error = errno;
        ::close(fd);
        fail(windowsError(error));
        return INVALID_HANDLE_VALUE;
    }
    device.regularFile = S_ISREG(info.st_mode);
    // Share modes between our own handles. A whole-disk volume shares its node
    // with the drive, whose handle must not be kept out by the volume's.
    if (!(device.volume && device.name.wholeDisk())) {
        if (::flock(fd, (device.exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            int error = errno;
            ::close(fd);
            fail(windowsError(error));
            return INVALID_HANDLE_VALUE;
        }
    }
    device.fd = fd;
    Handle handle = nextHandle_;
    nextHandle_ += 4;
    devices_[handle] = device;
    return handle;
}

LinuxPlatform::OpenDevice* LinuxPlatform::find(Handle handle) {
    auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : &found->second;
}

bool LinuxPlatform::FlushFileBuffers(Handle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    OpenDevice* device = find(handle);
    if (device == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (const uint32_t refusal = flushAccessRefusal(device->access); refusal != ERROR_SUCCESS)
        return fail(refusal);
    // A volume's files live in the mounted file system, not in the node's buffers.
    if (device->volume) {
        if (int error = volumes_.syncMounts(device->name)) return fail(windowsError(error));
    }
    // On a block device this also has the device empty its write cache.
    if (device->fd >= 0 && ::fsync(device->fd) != 0) return fail(windowsError(errno));
    lastError = ERROR_SUCCESS;
    return true;
}

bool LinuxPlatform::CloseHandle(Handle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto held = guards_.find(handle);
    if (held != guards_.end()) {
        ::close(held->second);  // the flock goes with it
        guards_.erase(held);
        return true;
    }
    OpenDevice* device = find(handle);
    if (device == nullptr) return fail(ERROR_INVALID_HANDLE);
    // Closing a locked volume's handle ends its lock, as an unlock does.
    if (device->volume && device->locked) giveBackMounts(*device);
    // The descriptor is gone even when close reports an error; the error
    // still means written bytes may not have reached the device.
    const bool closed = device->fd < 0 || ::close(device->fd) == 0;
    const int error = errno;
    devices_.erase(handle);
    if (!closed) return fail(windowsError(error, Transfer::Write));
    return true;
}

int LinuxPlatform::nodeFd(const OpenDevice& device, ScopedFd& opened) const {
    if (device.fd >= 0) return device.fd;
    opened.fd = ::open(volumes_.devicePath(device.name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return opened.fd;
}

bool LinuxPlatform::deviceSize(const OpenDevice& device, uint64_t* bytes) const {
    ScopedFd opened;
    const int fd = nodeFd(device, opened);
    if (fd < 0) return fail(windowsError(errno));
    if (device.regularFile) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) return fail(windowsError(errno));
        *bytes = static_cast<uint64_t>(info.st_size);
        return true;
    }
    if (::ioctl(fd, BLKGETSIZE64, bytes) != 0) return fail(windowsError(errno));
    return true;
}

uint32_t LinuxPlatform::SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                       uint32_t moveMethod) {
    std::lock_guard<std::mutex> guard(mutex_);
    OpenDevice* device = find(handle);
    if (device == nullptr) {
        fail(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the low part is a signed 32-bit distance.
    int64_t distance = distanceLow;
    if (distanceHigh != nullptr) {
        uint64_t combined = (uint64_t{static_cast<uint32_t>(*distanceHigh)} << 32) |
                            static_cast<uint32_t>(distanceLow);
        distance = static_cast<int64_t>(combined);
    }
    int64_t base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = static_cast<int64_t>(device->position);
    } else if (moveMethod == FILE_END) {
        uint64_t size = 0;
        if (!deviceSize(*device, &size)) return INVALID_SET_FILE_POINTER;
        base = static_cast<int64_t>(size);
    } else if (moveMethod != FILE_BEGIN) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + distance;
    if (target < 0) {
        fail(linuxos::ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh == nullptr && target > int64_t{0xFFFFFFFF}) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    device->position = static_cast<uint64_t>(target);
    if (distanceHigh != nullptr) *distanceHigh = static_cast<int32_t>(device->position >> 32);
    lastError = ERROR_SUCCESS;
    return static_cast<uint32_t>(device->position);
}

bool LinuxPlatform::ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) {
    return transfer(handle, Transfer::Read, buffer, nullptr, bytes, transferred);
}

bool LinuxPlatform::WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                              uint32_t* transferred) {
    return transfer(handle, Transfer::Write, nullptr, buffer, bytes, transferred);
}

bool LinuxPlatform::transfer(Handle handle, linuxos::Transfer direction, void* readInto,
                             const void* writeFrom, uint32_t bytes, uint32_t* transferred) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (transferred != nullptr) *transferred = 0;
    OpenDevice* device = find(handle);
    if (device == nullptr) return fail(ERROR_INVALID_HANDLE);
    const bool reading = direction == Transfer::Read;
    // A handle moves only what it was opened for; a locked volume's handle nothing.
    if ((device->access & (reading ? GENERIC_READ : GENERIC_WRITE)) == 0 || device->fd < 0)
        return fail(ERROR_ACCESS_DENIED);
    if (bytes == 0) return true;
    if ((reading ? readInto : writeFrom) == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (!reading && device->writeProtected) return fail(ERROR_WRITE_PROTECT);
    if (!reading) ++diskChanges_[device->name.disk];
    uint32_t done = 0;
    while (done < bytes) {
        const uint32_t piece = std::min(bytes - done, kBounceLimit);
        uint8_t* bounce = bounceFor(piece);
        if (bounce == nullptr) return fail(ERROR_GEN_FAILURE);
        if (!reading) std::memcpy(bounce, static_cast<const uint8_t*>(writeFrom) + done, piece);
        uint32_t moved = 0;
        while (moved < piece) {
            const off_t at = static_cast<off_t>(device->position + done + moved);
            ssize_t n = reading ? ::pread(device->fd, bounce + moved, piece - moved, at)
                                : ::pwrite(device->fd, bounce + moved, piece - moved, at);
            if (n < 0 && errno == EINTR) continue;
            // A handle opened for reading only cannot write.
            if (n < 0 && errno == EBADF && !reading) return fail(ERROR_ACCESS_DENIED);
            if (n < 0) return fail(windowsError(errno, direction));
            if (n == 0) {
                if (reading) break;  // end of the device or file
                return fail(ERROR_WRITE_FAULT);
            }
            moved += static_cast<uint32_t>(n);
        }
        if (reading) std::memcpy(static_cast<uint8_t*>(readInto) + done, bounce, moved);
        done += moved;
        if (moved < piece) break;  // a read that reached the end
    }
    device->position += done;
    if (transferred != nullptr) *transferred = done;
    return true;
}

uint8_t* LinuxPlatform::bounceFor(uint32_t bytes) {
    if (bytes <= bounceBytes_) return bounce_.get();
    // Past a few pages the buffer takes a huge page where the kernel has one:
    // memory of scattered small pages makes the block layer split a 1 MiB
    // transfer into several device requests (one segment per page).
    const size_t alignment = bytes > 16 * kBounceAlignment ? kHugePage : kBounceAlignment;
    const size_t rounded = (size_t{bytes} + alignment - 1) / alignment * alignment;
    void* grown = nullptr;
    if (::posix_memalign(&grown, alignment, rounded) != 0) return nullptr;
    if (alignment == kHugePage) ::madvise(grown, rounded, MADV_HUGEPAGE);
    bounce_.reset(static_cast<uint8_t*>(grown));
    bounceBytes_ = static_cast<uint32_t>(rounded);
    return bounce_.get();
}

uint32_t LinuxPlatform::GetLogicalDrives() {
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.refresh();
    return volumes_.mask();
}

uint32_t LinuxPlatform::QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                                        uint32_t maxChars) {
    if (deviceName == nullptr || deviceName[0] == 0 || deviceName[1] != u':' || deviceName[2] != 0) {
        fail(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    char letter = deviceName[0] < 0x80 ? upper(static_cast<char>(deviceName[0])) : '\0';
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.refresh();
    std::optional<BlockName> name = letter >= 'A' && letter <= 'Z' ? volumes_.volumeOf(letter)
                                                                   : std::nullopt;
    if (!name) {
        fail(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    // The target list: the device node, then the empty string that ends the list.
    std::string node = volumes_.devicePath(*name);
    uint32_t needed = static_cast<uint32_t>(node.size()) + 2;
    if (target == nullptr || maxChars < needed) {
        fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < node.size(); ++i) target[i] = static_cast<unsigned char>(node[i]);
    target[node.size()] = 0;
    target[node.size() + 1] = 0;
    return needed;
}

Handle LinuxPlatform::FindFirstVolumeW(char16_t* name, uint32_t maxChars) {
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.refresh();
    std::vector<std::string> names;
    for (const BlockName& volume : volumes_.volumes()) names.push_back(volumeNameOfKey(volume.text()));
    uint32_t error = ERROR_SUCCESS;
    const Handle search = searches_.first(std::move(names), name, maxChars, error);
    lastError = error;
    return search;
}

bool LinuxPlatform::FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) {
    std::lock_guard<std::mutex> guard(mutex_);
    uint32_t error = ERROR_SUCCESS;
    const bool found = searches_.next(find, name, maxChars, error);
    lastError = error;
    return found;
}

bool LinuxPlatform::FindVolumeClose(Handle find) {
    std::lock_guard<std::mutex> guard(mutex_);
    uint32_t error = ERROR_SUCCESS;
    const bool closed = searches_.close(find, error);
    lastError = error;
    return closed;
}

uint64_t LinuxPlatform::GetTickCount64() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void LinuxPlatform::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool LinuxPlatform::volumeLockedElsewhere(const BlockName& name, const OpenDevice* except) const {
    for (const auto& entry : devices_) {
        const OpenDevice& other = entry.second;
        if (&other != except && other.volume && other.locked && other.name == name) return true;
    }
    return false;
}

std::string LinuxPlatform::volumeRoot(char letter) {
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.refresh();
    return rootOf(volumes_.volumeOf(upper(letter)));
}

std::string LinuxPlatform::volumeNameRoot(const char16_t* volumeName) {
    std::string text;
    for (const char16_t* unit = volumeName; unit != nullptr && *unit != 0; ++unit)
        text += *unit < 0x80 ? static_cast<char>(*unit) : '?';
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.refresh();
    std::optional<BlockName> name;
    if (std::optional<std::string> key = keyOfVolumeName(text)) name = BlockName::parse(*key);
    if (name && !volumes_.known(*name)) name.reset();
    return rootOf(name);
}

std::string LinuxPlatform::rootOf(const std::optional<BlockName>& name) {
    if (!name) {
        fail(ERROR_FILE_NOT_FOUND);
        return std::string();
    }
    // A locked volume belongs to its locker alone.
    if (volumeLockedElsewhere(*name, nullptr)) {
        fail(ERROR_ACCESS_DENIED);
        return std::string();
    }
    int error = 0;
    std::string root = volumes_.root(*name, &error);
    if (root.empty()) fail(windowsError(error));
    return root;
}

namespace {

// The path with every link followed (/dev/disk/by-id/... names the node it
// points at); the path as given when it cannot be resolved.
std::string resolvedPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved = real;
    std::free(real);
    return resolved;
}

}  // namespace

DeviceNode LinuxPlatform::deviceNode(const std::string& path) {
    const std::string resolved = resolvedPath(path);
    const std::string prefix = resolvedPath(roots_.dev) + "/";
    DeviceNode node;
    if (resolved.compare(0, prefix.size(), prefix) != 0) return node;
    std::optional<BlockName> block = BlockName::parse(resolved.substr(prefix.size()));
    if (!block) return node;
    if (!block->wholeDisk())
        node.kind = DeviceKind::Partition;
    else
        node.kind = block->loop() ? DeviceKind::Loop : DeviceKind::Drive;
    node.driveNumber = static_cast<int>(block->driveNumber());
    return node;
}

void LinuxPlatform::releaseVolumeRoots() {
    std::lock_guard<std::mutex> guard(mutex_);
    volumes_.releaseOwnMounts();
}

std::unique_ptr<Platform> makeNativePlatform() {
    return std::make_unique<LinuxPlatform>();
}

}  // namespace platform
