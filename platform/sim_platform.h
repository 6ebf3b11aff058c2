#pragma once
// A simulated machine for tests and the demo: physical drives are image files
// with a small description, volumes are directories tied to a drive number.
// Faults can be injected into any operation. The machine keeps the rules
// Windows keeps for raw disk access (sharing, locks, dismounts, volumes that
// come and go when a partition table changes); the code lives in platform/sim/,
// and a machine can be described in a JSON file (platform/sim/machine_file.h).

#include "platform/platform.h"
#include "platform/sim/sim_volume_table.h"
#include "platform/volume_names.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// Milliseconds of the clock the simulated machine runs on: the system's
// steady clock, the same in every process of one computer.
uint64_t simSteadyNowMs();

// Drive number of /dev/loop0 (deviceNode), as on the Linux backend.
constexpr int SIM_LOOP_DRIVE_BASE = 100;

// A medium taken out of a drive or put in, at a moment of the machine's clock.
struct SimMediaChange {
    uint64_t atMs = 0;
    bool media = true;
    std::string imagePath;                // not empty: the drive's bytes from then on
    std::optional<bool> writeProtected;   // given: the new medium's protection
};

struct SimDrive {
    std::string imagePath;          // the drive's bytes; its size is the disk size
    bool present = true;            // false: the drive number does not exist
    bool removable = true;          // MediaRemovable of the hot-plug record
    // A medium is in the drive: check-verify succeeds. Without one, opens
    // succeed and every transfer and flush fails with ERROR_NOT_READY.
    bool media = true;
    // Media changes to come, in the order of their times; each one applied
    // counts in mediaChangeCount. A handle opened before a change transfers
    // nothing more: ERROR_NOT_READY while the drive is empty, then
    // ERROR_MEDIA_CHANGED.
    std::vector<SimMediaChange> mediaChanges;
    size_t mediaChangesApplied = 0;
    uint32_t mediaChangeCount = 0;  // IOCTL_STORAGE_CHECK_VERIFY2's MediaChangeCount
    // What the OS mounts once this drive's partition table changed; before
    // the machine's own (SimPlatform::setAfterRepartition).
    std::optional<SimArrival> afterRepartition;
    uint32_t bytesPerSector = 512;
    uint32_t heads = 255;           // tracks per cylinder
    uint32_t sectorsPerTrack = 63;
    uint32_t writeDelayMs = 0;      // each read or write request takes this long (a slow reader)
    bool writeProtected = false;    // opens succeed, every write fails with ERROR_WRITE_PROTECT
    // Another program holds the drive for this long after the machine starts:
    // opens with share mode 0 and the drive lock fail with ERROR_SHARING_VIOLATION.
    uint32_t busyForMs = 0;
    // A card that loses writes: a write to one of the `dropsWritesSectors`
    // sectors from `dropsWritesFrom` on is acknowledged in full and not
    // stored (0 sectors: none is dropped).
    uint64_t dropsWritesFrom = 0;
    uint64_t dropsWritesSectors = 0;
    // Another program holds the drive open for writing and shares it for
    // reading only, for this long after the machine starts: every open that
    // asks for write access, or that denies others write sharing, fails with
    // ERROR_SHARING_VIOLATION.
    uint32_t sharedHoldMs = 0;
    std::string vendor;             // NUL-terminated in the descriptor; may be padded
    std::string product;
    bool reportVendor = true;       // false: VendorIdOffset 0
    bool reportProduct = true;      // false: ProductIdOffset 0
    uint32_t vendorOffsetOverride = 0;   // non-zero: VendorIdOffset reported as this
    uint32_t productOffsetOverride = 0;  // non-zero: ProductIdOffset reported as this
};

// SimVolume, SimArrival: platform/sim/sim_volume_table.h.

// Faults: each refusal sets GetLastError to `error`.
struct SimFaults {
    uint32_t error = ERROR_ACCESS_DENIED;
    std::set<int> refuseOpenDrive;        // CreateFileA on these drive numbers fails
    bool refuseDriveLock = false;         // FSCTL_LOCK_VOLUME on a drive handle
    bool refuseGeometry = false;          // IOCTL_DISK_GET_DRIVE_GEOMETRY_EX on a drive
    std::set<char> refuseVolumeOpen;      // CreateFileW on these letters
    std::set<char> refuseExtents;         // disk extents query on these letters
    std::set<char> refuseVolumeLock;
    std::set<char> refuseDismount;
    std::set<char> refuseUnlock;
    std::set<char> refuseQueryDosDevice;
    // A ReadFile or WriteFile whose sectors include one of these LBAs fails
    // (0 bytes), or comes up short, ending half way into that sector.
    std::set<uint64_t> failReadAtLba;
    std::set<uint64_t> failWriteAtLba;
    std::set<uint64_t> shortReadAtLba;
    std::set<uint64_t> shortWriteAtLba;
    int64_t failWritesAfter = -1;         // >= 0: every write request after this many fails
    int64_t failReadsAfter = -1;          // >= 0: every read after this many fails
    // A counterfeit card: > 0, the drive keeps only this many sectors, and a
    // transfer at or past it reaches the sector modulo this size.
    uint64_t wrapSectors = 0;
    // A failing card: a write that covers one of these LBAs stores that
    // sector's bytes inverted, so it reads back different.
    std::set<uint64_t> garbleWriteAtLba;
    bool failDriveClose = false;          // CloseHandle on a drive reports a write fault
    bool failDriveFlush = false;          // FlushFileBuffers on a drive handle
    std::set<char> refuseVolumeFlush;     // FlushFileBuffers on these letters
};

// Behaviours Windows' documentation leaves open, each off by default so that
// a test turns on the one it is about (README: modelled Windows rules).
struct SimChoices {
    // FSCTL_UNLOCK_VOLUME on a locked volume whose partition a new table
    // removed fails with ERROR_NOT_READY (the lock still ends with the handle).
    bool unlockAfterVanishFails = false;
    // > 0: the program that holds a volume open mounts it again and reopens
    // its files straight after every dismount, for this long after the first
    // dismount; a lock that follows such a dismount is refused.
    uint32_t remountAfterDismountMs = 0;
    // false: the volumes of a new partition table arrive without letters.
    bool newVolumesGetLetters = true;
    // Opening these letters with access rights takes SLOW_LETTER_OPEN_MS (a
    // sleeping disk, a network share).
    std::set<char> slowLetters;
};
constexpr uint32_t SLOW_LETTER_OPEN_MS = 5000;

// One recorded call, for tests that check what the logic asked of the OS.
struct SimCall {
    std::string name;       // "CreateFileA", "DeviceIoControl", ...
    std::string path;       // for opens (wide paths as UTF-8)
    uint32_t access = 0, shareMode = 0, disposition = 0, flags = 0;
    uint32_t code = 0;      // for DeviceIoControl
    uint32_t inSize = 0, outSize = 0;
    uint64_t offset = 0;    // byte position for reads and writes
    uint32_t bytes = 0;     // bytes asked for by a read or write
    Handle handle = INVALID_HANDLE_VALUE;
};

class SimPlatform : public Platform {
public:
    SimPlatform();
    ~SimPlatform() override;

    void addDrive(int number, const SimDrive& drive);
    SimDrive& drive(int number);
    // A volume under `letter`, or without one ('\0'); returns its
    // "\\?\Volume{...}\" name. A volume given a letter in use replaces that one.
    std::string addVolume(char letter, const SimVolume& volume);
    SimVolume& volume(char letter);
    SimVolume& volumeNamed(const std::string& name);
    void removeVolume(char letter);
    // What the OS mounts once a drive whose partition table changed is
    // released. Without it the volumes stay as they are.
    void setAfterRepartition(const SimArrival& arrival) { arrival_ = arrival; hasArrival_ = true; }
    // Time stands still unless the logic sleeps or a slow drive takes it, so
    // that waits of seconds pass at once; otherwise the machine runs on the
    // real clock, started with the machine.
    void setVirtualClock(bool on) { virtualClock_ = on; }
    // The real clock's moment (simSteadyNowMs) that is the machine's time 0;
    // by default the moment the machine was made. Several processes that run
    // one machine give each the same start, so that they share its timeline.
    void setStartMs(uint64_t steadyMs) { startMs_ = steadyMs; }
    SimFaults& faults() { return faults_; }
    SimChoices& choices() { return choices_; }

    // Inspection for tests. The call log is kept only while recording is on
    // (the default); long-running users such as the tools switch it off so
    // that memory does not grow with every sector moved.
    const std::vector<SimCall>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    void setRecordCalls(bool record) { recordCalls_ = record; }
    std::vector<std::string> debugLines() const;
    void clearDebugLines();
    int openHandleCount() const;  // files, drives and volumes
    int guardCount() const { return static_cast<int>(guards_.size()); }
    bool driveLocked(int number) const;
    bool volumeLocked(char letter) const;
    uint64_t readCount() const { return reads_; }
    uint64_t writeCount() const { return writes_; }
    uint64_t flushCount() const { return flushes_; }
    // The error of the last image write that the file system under the image
    // refused (ERROR_DISK_FULL, ERROR_FILE_TOO_LARGE, ERROR_WRITE_FAULT); 0 when none.
    uint32_t imageWriteError() const { return imageWriteError_; }
    // Also echo debug lines to standard error (the demo wants to see them).
    void setEchoDebug(bool echo) { echoDebug_ = echo; }

    Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                       uint32_t disposition, uint32_t flags) override;
    Handle CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                       uint32_t disposition, uint32_t flags) override;
    bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* bytesReturned) override;
    uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                            uint32_t moveMethod) override;
    bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) override;
    bool WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                   uint32_t* transferred) override;
    bool FlushFileBuffers(Handle handle) override;
    bool CloseHandle(Handle handle) override;
    uint32_t GetLastError() override { return lastError_; }
    // Guards are held per machine: every caller of this machine meets them.
    Handle CreateMutexW(const char16_t* name) override;
    uint32_t GetLogicalDrives() override;
    uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                             uint32_t maxChars) override;
    Handle FindFirstVolumeW(char16_t* name, uint32_t maxChars) override;
    bool FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) override;
    bool FindVolumeClose(Handle find) override;
    std::string volumeRoot(char letter) override;
    std::string volumeNameRoot(const char16_t* name) override;
    DeviceNode deviceNode(const std::string& path) override;
    void releaseVolumeRoots() override {}
    void OutputDebugStringA(const char* text) override;
    uint64_t GetTickCount64() override;
    void Sleep(uint32_t milliseconds) override;

private:
    struct Open;
    bool fail(uint32_t error);
    Open* find(Handle handle);
    // Lets arrivals and stale letters of the volume table, and the drives'
    // media changes, catch up with the clock.
    void catchUp();
    void applyMediaChanges(uint64_t now);
    uint64_t nowMs() const;
    void passTime(uint32_t milliseconds);
    bool driveIoctl(Open& open, uint32_t code, const void* in, uint32_t inSize, void* out,
                    uint32_t outSize, uint32_t* bytesReturned);
    bool volumeIoctl(Open& open, uint32_t code, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);
    void volumeExtent(const sim::VolumeEntry& entry, uint64_t& start, uint64_t& sectors) const;
    // Windows' rules (platform/sim/sim_windows_rules.cpp).
    uint32_t driveOpenRefusal(int number, uint32_t access, uint32_t shareMode) const;
    uint32_t driveLockRefusal(int number) const;
    uint32_t volumeLockRefusal(const Open& open, sim::VolumeEntry& entry) const;
    // A forced dismount of a volume another program holds; false when that
    // program mounted it again at once.
    bool dismountStays(sim::VolumeEntry& entry);
    std::string rootOf(sim::VolumeEntry* entry);
    bool writeBlockedByVolume(int number, uint64_t lba, uint64_t end) const;
    bool volumeLockedById(uint64_t id) const;
    void driveReleased(const Open& open);
    // ERROR_NOT_READY or ERROR_MEDIA_CHANGED when the handle's medium is gone.
    uint32_t mediumGone(const Open& open);
    bool transfer(Handle handle, void* read, const void* write, uint32_t bytes,
                  uint32_t* transferred);
    // Moves `amount` bytes at byte `position` of the image, sector by sector
    // where the card wraps, garbles or drops; the bytes moved.
    size_t moveBytes(const SimDrive& drive, std::FILE* file, uint64_t position, void* read,
                     const void* write, size_t amount);
    // A flushed volume's files go onto its drive's sectors, as a file system
    // writes them (platform/sim/sim_fat_store.h). False when they cannot.
    bool storeVolumeFiles(uint64_t volumeId);
    void record(const SimCall& call);

    std::map<int, SimDrive> drives_;
    sim::VolumeTable volumes_;
    VolumeSearches searches_;
    SimArrival arrival_;
    bool hasArrival_ = false;
    bool virtualClock_ = false;
    uint64_t virtualNowMs_ = 0;
    uint64_t startMs_ = 0;
    std::map<Handle, std::unique_ptr<Open>> opens_;
    std::map<Handle, std::u16string> guards_;  // named guards held, by handle
    SimFaults faults_;
    SimChoices choices_;
    std::vector<SimCall> calls_;
    std::vector<std::string> debugLines_;
    mutable std::mutex debugMutex_;
    Handle nextHandle_ = 100;
    uint32_t lastError_ = 0;
    uint32_t imageWriteError_ = 0;
    uint64_t reads_ = 0, writes_ = 0, flushes_ = 0;
    bool echoDebug_ = false;
    bool recordCalls_ = true;
};

// Installs a backend for the lifetime of a scope, then restores the previous one.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& backend) : previous_(setOs(&backend)) {}
    ~ScopedPlatform() { setOs(previous_); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* previous_;
};

}  // namespace platform
