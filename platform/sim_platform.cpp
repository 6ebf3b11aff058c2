#include "platform/sim_platform.h"

#include "platform/little_endian.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

namespace platform {

namespace {

std::string narrow(const char16_t* wide) {
    std::string text;
    for (; *wide != u'\0'; ++wide) text += *wide < 0x80 ? char(*wide) : '?';
    return text;
}

// "\\.\PhysicalDriveN" -> N, or -1.
int driveNumberOf(const std::string& path) {
    static const std::string prefix = "\\\\.\\PhysicalDrive";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) return -1;
    int number = 0;
    for (size_t i = prefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9' || number > 1000) return -1;
        number = number * 10 + (path[i] - '0');
    }
    return number;
}

// "\\.\E:" -> 'E', or 0.
char volumeLetterOf(const std::string& path) {
    if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':' && path[4] >= 'A' &&
        path[4] <= 'Z')
        return path[4];
    return 0;
}

uint64_t fileSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

// Images pass 2 GiB, past what fseek's long reaches on Windows.
bool seekTo(std::FILE* file, uint64_t position) {
#if defined(_WIN32)
    return _fseeki64(file, static_cast<long long>(position), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

SimCall makeCall(const char* name, const std::string& path = {}, uint32_t access = 0,
                 uint32_t shareMode = 0, uint32_t disposition = 0, uint32_t flags = 0) {
    SimCall call;
    call.name = name;
    call.path = path;
    call.access = access;
    call.shareMode = shareMode;
    call.disposition = disposition;
    call.flags = flags;
    return call;
}

}  // namespace

struct SimPlatform::Open {
    int drive = -1;        // physical drive number, or -1 for a volume
    char letter = 0;       // volume letter, or 0 for a drive
    bool exclusive = false;
    bool writable = false;  // opened with GENERIC_WRITE
    bool locked = false;
    uint64_t position = 0;
    std::FILE* file = nullptr;
};

SimPlatform::SimPlatform() = default;

SimPlatform::~SimPlatform() {
    for (auto& entry : opens_)
        if (entry.second->file != nullptr) std::fclose(entry.second->file);
}

void SimPlatform::addDrive(int number, const SimDrive& drive) { drives_[number] = drive; }
SimDrive& SimPlatform::drive(int number) { return drives_.at(number); }
void SimPlatform::addVolume(char letter, const SimVolume& volume) { volumes_[letter] = volume; }
SimVolume& SimPlatform::volume(char letter) { return volumes_.at(letter); }
void SimPlatform::removeVolume(char letter) { volumes_.erase(letter); }

std::vector<std::string> SimPlatform::debugLines() const {
    std::lock_guard<std::mutex> lock(debugMutex_);
    return debugLines_;
}

void SimPlatform::clearDebugLines() {
    std::lock_guard<std::mutex> lock(debugMutex_);
    debugLines_.clear();
}

int SimPlatform::openHandleCount() const { return static_cast<int>(opens_.size()); }

bool SimPlatform::driveLocked(int number) const {
    for (const auto& entry : opens_)
        if (entry.second->drive == number && entry.second->locked) return true;
    return false;
}

bool SimPlatform::volumeLocked(char letter) const {
    for (const auto& entry : opens_)
        if (entry.second->letter == letter && entry.second->locked) return true;
    return false;
}

bool SimPlatform::fail(uint32_t error) {
    lastError_ = error;
    return false;
}

void SimPlatform::record(const SimCall& call) {
    if (recordCalls_) calls_.push_back(call);
}

SimPlatform::Open* SimPlatform::find(Handle handle) {
    auto it = opens_.find(handle);
    return it == opens_.end() ? nullptr : it->second.get();
}

Handle SimPlatform::CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                                uint32_t disposition, uint32_t flags) {
    record(makeCall("CreateFileA", path, access, shareMode, disposition, flags));
    const int number = driveNumberOf(path);
    auto it = drives_.find(number);
    if (number < 0 || it == drives_.end() || !it->second.present) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (faults_.refuseOpenDrive.count(number) != 0) {
        lastError_ = faults_.error;
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0 excludes every other opener, and an exclusive holder excludes us.
    for (const auto& entry : opens_) {
        if (entry.second->drive == number && (entry.second->exclusive || shareMode == 0)) {
            lastError_ = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    const bool writing = (access & GENERIC_WRITE) != 0;
    std::FILE* file = std::fopen(it->second.imagePath.c_str(), writing ? "r+b" : "rb");
    if (file == nullptr) {
        lastError_ = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    // Unbuffered, like the handle it stands for: each transfer reaches the
    // file at once and its error comes back with it.
    std::setvbuf(file, nullptr, _IONBF, 0);
    auto open = std::make_unique<Open>();
    open->drive = number;
    open->exclusive = shareMode == 0;
    open->writable = writing;
    open->file = file;
    const Handle handle = nextHandle_++;
    opens_[handle] = std::move(open);
    if (recordCalls_) calls_.back().handle = handle;
    lastError_ = ERROR_SUCCESS;
    return handle;
}

Handle SimPlatform::CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                                uint32_t disposition, uint32_t flags) {
    const std::string name = narrow(path);
    record(makeCall("CreateFileW", name, access, shareMode, disposition, flags));
    const char letter = volumeLetterOf(name);
    auto it = volumes_.find(letter);
    if (letter == 0 || it == volumes_.end()) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (!it->second.openable || faults_.refuseVolumeOpen.count(letter) != 0) {
        lastError_ = faults_.error;
        return INVALID_HANDLE_VALUE;
    }
    auto open = std::make_unique<Open>();
    open->letter = letter;
    const Handle handle = nextHandle_++;
    opens_[handle] = std::move(open);
    if (recordCalls_) calls_.back().handle = handle;
    lastError_ = ERROR_SUCCESS;
    return handle;
}

bool SimPlatform::DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
    SimCall call;
    call.name = "DeviceIoControl";
    call.code = code;
    call.inSize = inSize;
    call.outSize = outSize;
    call.handle = handle;
    record(call);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    Open* open = find(handle);
    if (open == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (open->drive >= 0) return driveIoctl(*open, code, in, inSize, out, outSize, bytesReturned);
    return volumeIoctl(*open, code, out, outSize, bytesReturned);
}

bool SimPlatform::driveIoctl(Open& open, uint32_t code, const void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* bytesReturned) {
    const SimDrive& drive = drives_.at(open.drive);
    auto* bytes = static_cast<unsigned char*>(out);
    const uint64_t size = fileSize(drive.imagePath);
    switch (code) {
    case FSCTL_LOCK_VOLUME:
        if (faults_.refuseDriveLock) return fail(faults_.error);
        open.locked = true;
        break;
    case FSCTL_UNLOCK_VOLUME:
        if (!open.locked) return fail(ERROR_INVALID_PARAMETER);
        open.locked = false;
        break;
    case IOCTL_DISK_UPDATE_PROPERTIES:
        break;
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
        if (faults_.refuseGeometry) return fail(faults_.error);
        if (!drive.media) return fail(ERROR_NOT_READY);
        if (outSize < GEOMETRY_EX_MIN_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, outSize);
        const uint64_t perCylinder = uint64_t(drive.heads) * drive.sectorsPerTrack * drive.bytesPerSector;
        storeLe64(bytes + GEOMETRY_EX_CYLINDERS, perCylinder == 0 ? 0 : size / perCylinder);
        storeLe32(bytes + GEOMETRY_EX_MEDIA_TYPE, drive.removable ? MEDIA_TYPE_REMOVABLE : MEDIA_TYPE_FIXED);
        storeLe32(bytes + GEOMETRY_EX_TRACKS_PER_CYLINDER, drive.heads);
        storeLe32(bytes + GEOMETRY_EX_SECTORS_PER_TRACK, drive.sectorsPerTrack);
        storeLe32(bytes + GEOMETRY_EX_BYTES_PER_SECTOR, drive.bytesPerSector);
        storeLe64(bytes + GEOMETRY_EX_DISK_SIZE, size);
        if (bytesReturned != nullptr) *bytesReturned = outSize < 40 ? outSize : 40;
        break;
    }
    case IOCTL_STORAGE_GET_HOTPLUG_INFO:
        if (outSize < HOTPLUG_INFO_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, HOTPLUG_INFO_SIZE);
        storeLe32(bytes, HOTPLUG_INFO_SIZE);
        bytes[HOTPLUG_MEDIA_REMOVABLE] = drive.removable ? 1 : 0;
        bytes[HOTPLUG_MEDIA_REMOVABLE + 1] = drive.removable ? 1 : 0;
        if (bytesReturned != nullptr) *bytesReturned = HOTPLUG_INFO_SIZE;
        break;
    case IOCTL_STORAGE_CHECK_VERIFY:
        if (!drive.media) return fail(ERROR_NOT_READY);
        break;
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        if (in == nullptr || inSize < PROPERTY_QUERY_SIZE) return fail(ERROR_INVALID_PARAMETER);
        const size_t need = DESCRIPTOR_HEADER_SIZE + drive.vendor.size() + 1 + drive.product.size() + 1;
        if (outSize < DESCRIPTOR_HEADER_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(bytes, 0, DESCRIPTOR_HEADER_SIZE);
        storeLe32(bytes, 1);
        storeLe32(bytes + 4, static_cast<uint32_t>(need));
        bytes[10] = drive.removable ? 1 : 0;
        uint32_t at = DESCRIPTOR_HEADER_SIZE;
        auto place = [&](const std::string& text, bool report, uint32_t override, uint32_t field) {
            uint32_t offset = 0;
            if (report && at + text.size() + 1 <= outSize) {
                std::memcpy(bytes + at, text.c_str(), text.size() + 1);
                offset = at;
                at += static_cast<uint32_t>(text.size() + 1);
            }
            storeLe32(bytes + field, override != 0 ? override : offset);
        };
        place(drive.vendor, drive.reportVendor, drive.vendorOffsetOverride, DESCRIPTOR_VENDOR_OFFSET);
        place(drive.product, drive.reportProduct, drive.productOffsetOverride, DESCRIPTOR_PRODUCT_OFFSET);
        if (bytesReturned != nullptr) *bytesReturned = at;
        break;
    }
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
    lastError_ = ERROR_SUCCESS;
    return true;
}

bool SimPlatform::volumeIoctl(Open& open, uint32_t code, void* out, uint32_t outSize,
                              uint32_t* bytesReturned) {
    auto it = volumes_.find(open.letter);
    if (it == volumes_.end()) return fail(ERROR_NOT_READY);
    SimVolume& volume = it->second;
    auto* bytes = static_cast<unsigned char*>(out);
    switch (code) {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        if (faults_.refuseExtents.count(open.letter) != 0) return fail(faults_.error);
        if (volume.driveNumber < 0) return fail(ERROR_INVALID_FUNCTION);
        if (outSize < DISK_EXTENTS_ONE_SIZE) return fail(ERROR_MORE_DATA);
        std::memset(bytes, 0, DISK_EXTENTS_ONE_SIZE);
        storeLe32(bytes + DISK_EXTENTS_COUNT, 1);
        storeLe32(bytes + DISK_EXTENTS_FIRST_DISK_NUMBER, static_cast<uint32_t>(volume.driveNumber));
        if (bytesReturned != nullptr) *bytesReturned = DISK_EXTENTS_ONE_SIZE;
        break;
    case FSCTL_LOCK_VOLUME:
        if (faults_.refuseVolumeLock.count(open.letter) != 0) return fail(faults_.error);
        for (const auto& entry : opens_)
            if (entry.second.get() != &open && entry.second->letter == open.letter && entry.second->locked)
                return fail(ERROR_ACCESS_DENIED);
        open.locked = true;
        break;
    case FSCTL_DISMOUNT_VOLUME:
        if (faults_.refuseDismount.count(open.letter) != 0) return fail(faults_.error);
        volume.mounted = false;
        break;
    case FSCTL_UNLOCK_VOLUME:
        if (faults_.refuseUnlock.count(open.letter) != 0) return fail(faults_.error);
        if (!open.locked) return fail(ERROR_NOT_LOCKED);
        open.locked = false;
        break;
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
    lastError_ = ERROR_SUCCESS;
    return true;
}

uint32_t SimPlatform::SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                     uint32_t moveMethod) {
    Open* open = find(handle);
    const uint64_t high = distanceHigh != nullptr ? uint32_t(*distanceHigh) : 0;
    const uint64_t offset = high << 32 | uint32_t(distanceLow);
    SimCall call;
    call.name = "SetFilePointer";
    call.handle = handle;
    call.offset = offset;
    record(call);
    if (open == nullptr || open->file == nullptr || moveMethod != FILE_BEGIN) {
        lastError_ = open == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    open->position = offset;
    lastError_ = ERROR_SUCCESS;
    return uint32_t(offset);
}

bool SimPlatform::transfer(Handle handle, void* read, const void* write, uint32_t bytes,
                           uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    Open* open = find(handle);
    SimCall call;
    call.name = read != nullptr ? "ReadFile" : "WriteFile";
    call.handle = handle;
    call.offset = open != nullptr ? open->position : 0;
    call.bytes = bytes;
    record(call);
    if (open == nullptr || open->file == nullptr) return fail(ERROR_INVALID_HANDLE);
    // As on Windows, a handle opened for reading only cannot write.
    if (write != nullptr && !open->writable) return fail(ERROR_ACCESS_DENIED);

    const SimDrive& drive = drives_.at(open->drive);
    const uint64_t lba = open->position / 512;
    uint64_t& count = read != nullptr ? reads_ : writes_;
    const int64_t limit = read != nullptr ? faults_.failReadsAfter : faults_.failWritesAfter;
    const auto& failAt = read != nullptr ? faults_.failReadAtLba : faults_.failWriteAtLba;
    const auto& shortAt = read != nullptr ? faults_.shortReadAtLba : faults_.shortWriteAtLba;
    // Unbuffered handles move whole sectors at sector offsets only.
    if (bytes % drive.bytesPerSector != 0 || open->position % drive.bytesPerSector != 0)
        return fail(ERROR_INVALID_PARAMETER);
    // A fault at a sector hits every request that covers it. A short
    // transfer stops half way into the first such sector.
    const uint64_t end = lba + bytes / drive.bytesPerSector;
    const auto firstCovered = [lba, end](const std::set<uint64_t>& sectors) {
        auto it = sectors.lower_bound(lba);
        return it != sectors.end() && *it < end ? it : sectors.end();
    };
    if ((limit >= 0 && int64_t(count) >= limit) || firstCovered(failAt) != failAt.end()) {
        ++count;
        return fail(read != nullptr ? ERROR_READ_FAULT : ERROR_WRITE_FAULT);
    }
    ++count;
    uint32_t amount = bytes;
    if (auto it = firstCovered(shortAt); it != shortAt.end())
        amount = static_cast<uint32_t>((*it - lba) * drive.bytesPerSector + drive.bytesPerSector / 2);
    const uint64_t size = fileSize(drive.imagePath);
    if (open->position >= size) amount = 0;
    else if (open->position + amount > size) amount = static_cast<uint32_t>(size - open->position);

    if (read == nullptr && drive.writeDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(drive.writeDelayMs));
    size_t moved = 0;
    if (amount > 0) {
        if (faults_.wrapSectors == 0 && faults_.garbleWriteAtLba.empty()) {
            if (!seekTo(open->file, open->position)) return fail(ERROR_SEEK);
            moved = read != nullptr ? std::fread(read, 1, amount, open->file)
                                    : std::fwrite(write, 1, amount, open->file);
        } else {
            moved = moveBytes(open->file, open->position, read, write, amount);
        }
        // A full file system under the image fails the write as a full disk
        // does on Windows; other failures as a bad sector.
        const bool flushed = read != nullptr || std::fflush(open->file) == 0;
        if (std::ferror(open->file) || !flushed || moved != amount) {
            const int cause = errno;
            std::clearerr(open->file);
            if (read != nullptr) return fail(ERROR_READ_FAULT);
            imageWriteError_ = cause == ENOSPC  ? ERROR_DISK_FULL
                               : cause == EFBIG ? ERROR_FILE_TOO_LARGE
                                                : ERROR_WRITE_FAULT;
            return fail(imageWriteError_);
        }
    }
    open->position += moved;
    if (transferred != nullptr) *transferred = static_cast<uint32_t>(moved);
    lastError_ = ERROR_SUCCESS;
    return true;
}

size_t SimPlatform::moveBytes(std::FILE* file, uint64_t position, void* read, const void* write,
                              size_t amount) {
    constexpr uint64_t SECTOR = 512;
    size_t moved = 0;
    while (moved < amount) {
        const uint64_t at = position + moved;
        uint64_t lba = at / SECTOR;
        const bool garbled = write != nullptr && faults_.garbleWriteAtLba.count(lba) != 0;
        if (faults_.wrapSectors > 0) lba %= faults_.wrapSectors;
        const size_t part = static_cast<size_t>(std::min<uint64_t>(amount - moved, SECTOR - at % SECTOR));
        if (!seekTo(file, lba * SECTOR + at % SECTOR)) return moved;
        size_t done = 0;
        if (read != nullptr) {
            done = std::fread(static_cast<uint8_t*>(read) + moved, 1, part, file);
        } else {
            uint8_t bytes[SECTOR];
            std::memcpy(bytes, static_cast<const uint8_t*>(write) + moved, part);
            if (garbled)
                for (size_t i = 0; i < part; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
            done = std::fwrite(bytes, 1, part, file);
        }
        moved += done;
        if (done != part) break;
    }
    return moved;
}

bool SimPlatform::ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) {
    return transfer(handle, buffer, nullptr, bytes, transferred);
}

bool SimPlatform::WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* transferred) {
    return transfer(handle, nullptr, buffer, bytes, transferred);
}

bool SimPlatform::FlushFileBuffers(Handle handle) {
    SimCall call;
    call.name = "FlushFileBuffers";
    call.handle = handle;
    record(call);
    Open* open = find(handle);
    if (open == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (open->drive >= 0 ? faults_.failDriveFlush : faults_.refuseVolumeFlush.count(open->letter) != 0)
        return fail(ERROR_WRITE_FAULT);
    // A drive's image must have taken every byte; a volume's files are
    // written straight through.
    if (open->file != nullptr && std::fflush(open->file) != 0) return fail(ERROR_WRITE_FAULT);
    ++flushes_;
    lastError_ = ERROR_SUCCESS;
    return true;
}

bool SimPlatform::CloseHandle(Handle handle) {
    SimCall call;
    call.name = "CloseHandle";
    call.handle = handle;
    record(call);
    auto it = opens_.find(handle);
    if (it == opens_.end()) return fail(ERROR_INVALID_HANDLE);
    const bool drive = it->second->drive >= 0;
    const bool closed = it->second->file == nullptr || std::fclose(it->second->file) == 0;
    opens_.erase(it);
    // The handle is gone either way; a failed close means written bytes may be lost.
    if (!closed || (drive && faults_.failDriveClose)) return fail(ERROR_WRITE_FAULT);
    lastError_ = ERROR_SUCCESS;
    return true;
}

uint32_t SimPlatform::GetLogicalDrives() {
    record(makeCall("GetLogicalDrives"));
    uint32_t mask = 0;
    for (const auto& entry : volumes_)
        if (entry.first >= 'A' && entry.first <= 'Z') mask |= 1u << (entry.first - 'A');
    return mask;
}

uint32_t SimPlatform::QueryDosDeviceW(const char16_t* deviceName, char16_t* target, uint32_t maxChars) {
    const std::string name = narrow(deviceName);
    record(makeCall("QueryDosDeviceW", name));
    const char letter = name.size() == 2 && name[1] == ':' ? name[0] : 0;
    if (letter == 0 || volumes_.count(letter) == 0) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    if (faults_.refuseQueryDosDevice.count(letter) != 0) {
        lastError_ = faults_.error;
        return 0;
    }
    static const char16_t device[] = u"\\Device\\SimVolume";
    const uint32_t length = sizeof device / sizeof device[0];  // with terminator
    if (maxChars < length + 1) {
        lastError_ = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(target, device, sizeof device);
    target[length] = u'\0';  // the list ends with a second terminator
    lastError_ = ERROR_SUCCESS;
    return length + 1;
}

// Named as a Linux machine names them: /dev/sda is drive 0, /dev/sda1 its
// first partition, /dev/loopN drive 100 + N and /dev/loopNp1 its partition.
DeviceNode SimPlatform::deviceNode(const std::string& path) {
    DeviceNode node;
    const std::string prefix = "/dev/";
    if (path.compare(0, prefix.size(), prefix) != 0) return node;
    const std::string name = path.substr(prefix.size());
    const auto digitsOnly = [](const std::string& text) {
        return text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (name.compare(0, 4, "loop") == 0) {
        const std::string rest = name.substr(4);
        const size_t p = rest.find('p');
        const std::string index = rest.substr(0, p);
        if (index.empty() || index.size() > 3 || !digitsOnly(index)) return node;
        if (p != std::string::npos && (p + 1 == rest.size() || !digitsOnly(rest.substr(p + 1))))
            return node;
        node.kind = p == std::string::npos ? DeviceKind::Loop : DeviceKind::Partition;
        node.driveNumber = SIM_LOOP_DRIVE_BASE + std::stoi(index);
        return node;
    }
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0 || name[2] < 'a' || name[2] > 'z' ||
        !digitsOnly(name.substr(3)))
        return node;
    node.kind = name.size() == 3 ? DeviceKind::Drive : DeviceKind::Partition;
    node.driveNumber = name[2] - 'a';
    return node;
}

std::string SimPlatform::volumeRoot(char letter) {
    auto it = volumes_.find(letter);
    if (it == volumes_.end()) return {};
    // Using the letter again brings a dismounted volume back, as on Windows.
    it->second.mounted = true;
    std::string root = it->second.directory;
    if (!root.empty() && root.back() != '/') root += '/';
    return root;
}

void SimPlatform::OutputDebugStringA(const char* text) {
    std::lock_guard<std::mutex> lock(debugMutex_);
    debugLines_.emplace_back(text);
    if (echoDebug_) std::cerr << text;
}

}  // namespace platform
