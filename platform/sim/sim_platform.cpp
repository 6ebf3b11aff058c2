// The simulated machine's opens, closes, names and clock. Control codes are in
// sim_drive_control.cpp and sim_volume_control.cpp, transfers in
// sim_transfer.cpp, Windows' sharing and locking rules in sim_windows_rules.cpp.
#include "platform/sim_platform.h"

#include "platform/control_access.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_open.h"
#include "platform/sim/sim_paths.h"

#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace platform {

uint64_t simSteadyNowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

namespace {

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

SimPlatform::SimPlatform() : startMs_(simSteadyNowMs()) {}

SimPlatform::~SimPlatform() {
    for (auto& entry : opens_)
        if (entry.second->file != nullptr) std::fclose(entry.second->file);
}

void SimPlatform::addDrive(int number, const SimDrive& drive) { drives_[number] = drive; }
SimDrive& SimPlatform::drive(int number) { return drives_.at(number); }

std::string SimPlatform::addVolume(char letter, const SimVolume& volume) {
    return volumes_.add(letter, volume);
}

SimVolume& SimPlatform::volume(char letter) {
    sim::VolumeEntry* entry = volumes_.byLetter(letter);
    if (entry == nullptr) throw std::out_of_range("no simulated volume under that letter");
    return entry->volume;
}

SimVolume& SimPlatform::volumeNamed(const std::string& name) {
    sim::VolumeEntry* entry = volumes_.byName(name);
    if (entry == nullptr) throw std::out_of_range("no simulated volume of that name");
    return entry->volume;
}

void SimPlatform::removeVolume(char letter) { volumes_.removeLetter(letter); }

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

bool SimPlatform::volumeLockedById(uint64_t id) const {
    for (const auto& entry : opens_)
        if (entry.second->volumeId == id && entry.second->locked) return true;
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

uint64_t SimPlatform::nowMs() const {
    if (virtualClock_) return virtualNowMs_;
    const uint64_t now = simSteadyNowMs();
    return now > startMs_ ? now - startMs_ : 0;  // a start given from outside may lie ahead
}

uint64_t SimPlatform::GetTickCount64() { return nowMs(); }

void SimPlatform::passTime(uint32_t milliseconds) {
    if (milliseconds == 0) return;
    if (virtualClock_)
        virtualNowMs_ += milliseconds;
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SimPlatform::Sleep(uint32_t milliseconds) {
    record(makeCall("Sleep"));
    passTime(milliseconds);
}

void SimPlatform::catchUp() {
    const uint64_t now = nowMs();
    applyMediaChanges(now);
    volumes_.advance(now);
}

void SimPlatform::applyMediaChanges(uint64_t now) {
    for (auto& entry : drives_) {
        SimDrive& drive = entry.second;
        while (drive.mediaChangesApplied < drive.mediaChanges.size() &&
               drive.mediaChanges[drive.mediaChangesApplied].atMs <= now) {
            const SimMediaChange& change = drive.mediaChanges[drive.mediaChangesApplied++];
            drive.media = change.media;
            if (!change.imagePath.empty()) drive.imagePath = change.imagePath;
            if (change.writeProtected) drive.writeProtected = *change.writeProtected;
            ++drive.mediaChangeCount;
        }
    }
}

Handle SimPlatform::CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                                uint32_t disposition, uint32_t flags) {
    record(makeCall("CreateFileA", path, access, shareMode, disposition, flags));
    catchUp();
    const int number = sim::driveNumberOf(path);
    auto it = drives_.find(number);
    if (number < 0 || it == drives_.end() || !it->second.present) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (faults_.refuseOpenDrive.count(number) != 0) {
        lastError_ = faults_.error;
        return INVALID_HANDLE_VALUE;
    }
    const bool writing = (access & GENERIC_WRITE) != 0;
    auto open = std::make_unique<Open>();
    open->drive = number;
    open->mediaChangesAtOpen = it->second.mediaChangeCount;
    open->readable = (access & GENERIC_READ) != 0;
    // A handle without access rights only asks questions: it neither reaches
    // the medium nor meets anybody's sharing.
    if (!writing && !open->readable) {
        const Handle handle = nextHandle_++;
        opens_[handle] = std::move(open);
        if (recordCalls_) calls_.back().handle = handle;
        lastError_ = ERROR_SUCCESS;
        return handle;
    }
    if (const uint32_t refusal = driveOpenRefusal(number, access, shareMode); refusal != ERROR_SUCCESS) {
        lastError_ = refusal;
        return INVALID_HANDLE_VALUE;
    }
    std::FILE* file = std::fopen(it->second.imagePath.c_str(), writing ? "r+b" : "rb");
    if (file == nullptr) {
        lastError_ = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    // Unbuffered, like the handle it stands for: each transfer reaches the
    // file at once and its error comes back with it.
    std::setvbuf(file, nullptr, _IONBF, 0);
    open->exclusive = shareMode == 0;
    open->writable = writing;
    open->file = file;
    if (writing) open->tableAtOpen = sim::partitionTableBytes(it->second.imagePath);
    const Handle handle = nextHandle_++;
    opens_[handle] = std::move(open);
    if (recordCalls_) calls_.back().handle = handle;
    lastError_ = ERROR_SUCCESS;
    return handle;
}

Handle SimPlatform::CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                                uint32_t disposition, uint32_t flags) {
    const std::string name = sim::narrow(path);
    record(makeCall("CreateFileW", name, access, shareMode, disposition, flags));
    catchUp();
    const char letter = sim::volumeLetterOf(name);
    sim::VolumeEntry* entry = letter != '\0' ? volumes_.byLetter(letter) : volumes_.byName(name);
    if (entry == nullptr) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    // A handle without access rights only asks questions: it neither mounts
    // the volume nor meets the refusals of an open for reading or writing.
    const bool noAccess = (access & (GENERIC_READ | GENERIC_WRITE)) == 0;
    // Faults are set by letter, and hit the volume however it is named.
    if (!noAccess && letter != '\0' && choices_.slowLetters.count(letter) != 0)
        passTime(SLOW_LETTER_OPEN_MS);
    if (!noAccess && (!entry->volume.openable || faults_.refuseVolumeOpen.count(entry->letter) != 0)) {
        lastError_ = faults_.error;
        return INVALID_HANDLE_VALUE;
    }
    auto open = std::make_unique<Open>();
    open->letter = entry->letter;
    open->volumeId = entry->id;
    open->readable = (access & GENERIC_READ) != 0;
    open->writable = (access & GENERIC_WRITE) != 0;
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
    catchUp();
    if (bytesReturned != nullptr) *bytesReturned = 0;
    Open* open = find(handle);
    if (open == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (const uint32_t refusal = controlAccessRefusal(open->access(), code); refusal != ERROR_SUCCESS)
        return fail(refusal);
    if (open->drive >= 0) return driveIoctl(*open, code, in, inSize, out, outSize, bytesReturned);
    return volumeIoctl(*open, code, out, outSize, bytesReturned);
}

Handle SimPlatform::CreateMutexW(const char16_t* name) {
    if (name == nullptr || *name == 0) {
        fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    for (const auto& held : guards_) {
        if (held.second == name) {
            fail(ERROR_ALREADY_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
    }
    const Handle handle = nextHandle_++;
    guards_[handle] = name;
    lastError_ = ERROR_SUCCESS;
    return handle;
}

bool SimPlatform::CloseHandle(Handle handle) {
    // Guards are kept out of the call log, which records file and device work.
    if (guards_.erase(handle) != 0) {
        lastError_ = ERROR_SUCCESS;
        return true;
    }
    SimCall call;
    call.name = "CloseHandle";
    call.handle = handle;
    record(call);
    auto it = opens_.find(handle);
    if (it == opens_.end()) return fail(ERROR_INVALID_HANDLE);
    const bool drive = it->second->drive >= 0;
    const bool closed = it->second->file == nullptr || std::fclose(it->second->file) == 0;
    it->second->file = nullptr;
    if (drive) driveReleased(*it->second);
    opens_.erase(it);
    // The handle is gone either way; a failed close means written bytes may be lost.
    if (!closed || (drive && faults_.failDriveClose)) return fail(ERROR_WRITE_FAULT);
    lastError_ = ERROR_SUCCESS;
    return true;
}

uint32_t SimPlatform::GetLogicalDrives() {
    record(makeCall("GetLogicalDrives"));
    catchUp();
    return volumes_.letterMask();
}

uint32_t SimPlatform::QueryDosDeviceW(const char16_t* deviceName, char16_t* target, uint32_t maxChars) {
    const std::string name = sim::narrow(deviceName);
    record(makeCall("QueryDosDeviceW", name));
    catchUp();
    const char letter = name.size() == 2 && name[1] == ':' ? name[0] : 0;
    if (letter == 0 || volumes_.byLetter(letter) == nullptr) {
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

Handle SimPlatform::FindFirstVolumeW(char16_t* name, uint32_t maxChars) {
    record(makeCall("FindFirstVolumeW"));
    catchUp();
    uint32_t error = ERROR_SUCCESS;
    const Handle search = searches_.first(volumes_.names(), name, maxChars, error);
    lastError_ = error;
    return search;
}

bool SimPlatform::FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) {
    record(makeCall("FindNextVolumeW"));
    uint32_t error = ERROR_SUCCESS;
    const bool found = searches_.next(find, name, maxChars, error);
    lastError_ = error;
    return found;
}

bool SimPlatform::FindVolumeClose(Handle find) {
    record(makeCall("FindVolumeClose"));
    uint32_t error = ERROR_SUCCESS;
    const bool closed = searches_.close(find, error);
    lastError_ = error;
    return closed;
}

std::string SimPlatform::volumeRoot(char letter) {
    catchUp();
    return rootOf(volumes_.byLetter(letter));
}

std::string SimPlatform::volumeNameRoot(const char16_t* name) {
    catchUp();
    return rootOf(volumes_.byName(sim::narrow(name)));
}

std::string SimPlatform::rootOf(sim::VolumeEntry* entry) {
    if (entry == nullptr) return {};
    // Using the letter again brings a dismounted volume back, as on Windows.
    entry->volume.mounted = true;
    std::string root = entry->volume.directory;
    if (!root.empty() && root.back() != '/') root += '/';
    return root;
}

void SimPlatform::OutputDebugStringA(const char* text) {
    std::lock_guard<std::mutex> lock(debugMutex_);
    debugLines_.emplace_back(text);
    if (echoDebug_) std::cerr << text;
}

}  // namespace platform
