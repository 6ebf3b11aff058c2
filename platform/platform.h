#pragma once
// The operating-system services the recovery logic uses, named after the
// Windows calls they stand for. The logic calls these and nothing else of the
// OS; backends (win32, linux, sim) give each call the same observable result.
//
// Buffers passed to DeviceIoControl hold the Windows records byte for byte
// (little-endian, Windows offsets), whatever the backend: the constants and
// offsets below are the contract.

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using Handle = std::intptr_t;
constexpr Handle INVALID_HANDLE_VALUE = -1;

// Access, share mode, disposition, flags.
constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t GENERIC_WRITE = 0x40000000u;
constexpr uint32_t FILE_SHARE_READ = 0x1;
constexpr uint32_t FILE_SHARE_WRITE = 0x2;
constexpr uint32_t FILE_SHARE_DELETE = 0x4;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t FILE_FLAG_NO_BUFFERING = 0x20000000u;
constexpr uint32_t FILE_BEGIN = 0;
constexpr uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Device and file-system control codes.
constexpr uint32_t FSCTL_LOCK_VOLUME = 0x00090018;
constexpr uint32_t FSCTL_UNLOCK_VOLUME = 0x0009001C;
constexpr uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020;
constexpr uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = 0x000700A0;
// Succeeds on a writable medium; fails with ERROR_WRITE_PROTECT on a protected one.
constexpr uint32_t IOCTL_DISK_IS_WRITABLE = 0x00070024;
constexpr uint32_t IOCTL_DISK_UPDATE_PROPERTIES = 0x00070140;
constexpr uint32_t IOCTL_STORAGE_GET_HOTPLUG_INFO = 0x002D0C14;
constexpr uint32_t IOCTL_STORAGE_CHECK_VERIFY = 0x002D4800;
// The same question through a handle opened without access rights (access 0,
// sharing read and write), which neither mounts the drive's volumes nor meets
// anybody's sharing: succeeds while the drive holds a medium, fails with
// ERROR_NOT_READY while it holds none. An out buffer of 4 bytes or more
// receives the MediaChangeCount (u32; bytesReturned 4), a number that changes
// whenever a medium is taken out or put in; a shorter one than 4 bytes fails
// with ERROR_INSUFFICIENT_BUFFER. A drive number without a device (a reader
// unplugged) is refused by CreateFileA with ERROR_FILE_NOT_FOUND.
constexpr uint32_t IOCTL_STORAGE_CHECK_VERIFY2 = 0x002D0800;
constexpr uint32_t MEDIA_CHANGE_COUNT_SIZE = 4;
constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x002D1400;
constexpr uint32_t IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = 0x00560000;

// Error codes the backends report through GetLastError.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_NO_MORE_FILES = 18;
constexpr uint32_t ERROR_NOT_READY = 21;
constexpr uint32_t ERROR_SEEK = 25;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_NOT_LOCKED = 158;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_FILE_TOO_LARGE = 223;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_MORE_DATA = 234;
// A transfer on a handle opened before the drive's medium was changed.
constexpr uint32_t ERROR_MEDIA_CHANGED = 1110;

// Record layouts (byte offsets inside the DeviceIoControl output buffers).
// DISK_GEOMETRY_EX: Geometry{Cylinders i64 @0, MediaType u32 @8,
//   TracksPerCylinder u32 @12, SectorsPerTrack u32 @16, BytesPerSector u32 @20},
//   DiskSize i64 @24, Data[] @32.
constexpr uint32_t GEOMETRY_EX_CYLINDERS = 0;
constexpr uint32_t GEOMETRY_EX_MEDIA_TYPE = 8;
constexpr uint32_t GEOMETRY_EX_TRACKS_PER_CYLINDER = 12;
constexpr uint32_t GEOMETRY_EX_SECTORS_PER_TRACK = 16;
constexpr uint32_t GEOMETRY_EX_BYTES_PER_SECTOR = 20;
constexpr uint32_t GEOMETRY_EX_DISK_SIZE = 24;
constexpr uint32_t GEOMETRY_EX_MIN_SIZE = 32;  // up to the variable tail
constexpr uint32_t MEDIA_TYPE_REMOVABLE = 11;  // RemovableMedia
constexpr uint32_t MEDIA_TYPE_FIXED = 12;      // FixedMedia
// STORAGE_HOTPLUG_INFO: Size u32 @0, MediaRemovable u8 @4, MediaHotplug u8 @5,
//   DeviceHotplug u8 @6, WriteCacheEnableOverride u8 @7.
constexpr uint32_t HOTPLUG_INFO_SIZE = 8;
constexpr uint32_t HOTPLUG_MEDIA_REMOVABLE = 4;
// STORAGE_PROPERTY_QUERY: PropertyId u32 @0, QueryType u32 @4, AdditionalParameters[1] @8.
constexpr uint32_t PROPERTY_QUERY_SIZE = 12;
// STORAGE_DEVICE_DESCRIPTOR: Version u32 @0, Size u32 @4, DeviceType u8 @8,
//   DeviceTypeModifier u8 @9, RemovableMedia u8 @10, CommandQueueing u8 @11,
//   VendorIdOffset u32 @12, ProductIdOffset u32 @16, ProductRevisionOffset u32 @20,
//   SerialNumberOffset u32 @24, BusType u32 @28, RawPropertiesLength u32 @32,
//   RawDeviceProperties[] @36.
constexpr uint32_t DESCRIPTOR_VENDOR_OFFSET = 12;
constexpr uint32_t DESCRIPTOR_PRODUCT_OFFSET = 16;
constexpr uint32_t DESCRIPTOR_HEADER_SIZE = 36;
// VOLUME_DISK_EXTENTS: NumberOfDiskExtents u32 @0, padding @4,
//   Extents[0] = {DiskNumber u32 @8, padding @12, StartingOffset i64 @16, ExtentLength i64 @24}.
constexpr uint32_t DISK_EXTENTS_COUNT = 0;
constexpr uint32_t DISK_EXTENTS_FIRST_DISK_NUMBER = 8;
constexpr uint32_t DISK_EXTENTS_FIRST_STARTING_OFFSET = 16;
constexpr uint32_t DISK_EXTENTS_FIRST_LENGTH = 24;
constexpr uint32_t DISK_EXTENTS_ONE_SIZE = 32;

// Volume names as FindFirstVolumeW gives them: "\\?\Volume{GUID}\", 49
// characters. Without the trailing separator the name opens the volume itself.
constexpr uint32_t VOLUME_NAME_CHARS = 50;  // with the terminator

// What a device path of the OS's own naming ("/dev/sdb") stands for.
enum class DeviceKind { None, Drive, Partition, Loop };
struct DeviceNode {
    DeviceKind kind = DeviceKind::None;
    // Drive, Loop: the number the backend reaches it by; Partition: that of its
    // drive. Loop devices have numbers of their own, beyond any drive the
    // wizard probes.
    int driveNumber = -1;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Files, devices and volumes. Paths use the Windows forms the logic builds
    // ("\\.\PhysicalDrive3", "\\.\E:"); a backend maps them to its own names.
    virtual Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                               uint32_t disposition, uint32_t flags) = 0;
    virtual Handle CreateFileW(const char16_t* path, uint32_t access, uint32_t shareMode,
                               uint32_t disposition, uint32_t flags) = 0;
    virtual bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                 void* out, uint32_t outSize, uint32_t* bytesReturned) = 0;
    // Returns the new low part, or INVALID_SET_FILE_POINTER with the error set.
    virtual uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                    uint32_t moveMethod) = 0;
    virtual bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* transferred) = 0;
    virtual bool WriteFile(Handle handle, const void* buffer, uint32_t bytes,
                           uint32_t* transferred) = 0;
    // Writes everything held for the handle to the device, and has the device
    // store it. On a volume handle: every file of the volume as well.
    virtual bool FlushFileBuffers(Handle handle) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
    // The error of the last failed call on this thread.
    virtual uint32_t GetLastError() = 0;

    // A guard named across the machine's processes ("Global\\Name"). The first
    // create of a name holds it until that handle is closed or its process
    // ends; a create while it is held fails with INVALID_HANDLE_VALUE and
    // ERROR_ALREADY_EXISTS. A held guard is never taken over. CloseHandle
    // gives it up.
    virtual Handle CreateMutexW(const char16_t* name) = 0;

    // Bit i set: drive letter 'A' + i is in use.
    virtual uint32_t GetLogicalDrives() = 0;
    // Non-zero when deviceName ("E:") names a device; target receives its NT name.
    virtual uint32_t QueryDosDeviceW(const char16_t* deviceName, char16_t* target,
                                     uint32_t maxChars) = 0;
    // Every volume the OS has mounted, with or without a letter. The first
    // name goes into `name` (maxChars wide characters with the terminator) and
    // a search handle comes back; INVALID_HANDLE_VALUE with ERROR_NO_MORE_FILES
    // when there is none. FindNextVolumeW fails with ERROR_NO_MORE_FILES at
    // the end; FindVolumeClose ends the search.
    virtual Handle FindFirstVolumeW(char16_t* name, uint32_t maxChars) = 0;
    virtual bool FindNextVolumeW(Handle find, char16_t* name, uint32_t maxChars) = 0;
    virtual bool FindVolumeClose(Handle find) = 0;
    // Where the files of the volume under a letter are reached, with a trailing
    // separator ("E:\" on Windows, the mount point elsewhere); empty when none.
    // A volume dismounted earlier comes back on this first access, as Windows
    // remounts a volume when its letter is used again.
    virtual std::string volumeRoot(char letter) = 0;
    // The same for a volume named as FindFirstVolumeW names it
    // ("\\?\Volume{...}\", the separator optional), letter or not: on
    // Windows the name itself with the separator, which reaches the files of
    // a volume that has no letter; elsewhere the volume's mount point.
    virtual std::string volumeNameRoot(const char16_t* name) = 0;
    // Ends file access through volumeRoot paths: flushes, and releases any
    // mount the backend made itself. Nothing to do where the OS owns mounts.
    virtual void releaseVolumeRoots() = 0;

    // For tools that take a drive the way the OS names it: whether `path` is
    // a whole drive (and which), a partition of one, a loop device, or none of
    // these. Nothing is opened. Backends without such names answer None.
    virtual DeviceNode deviceNode(const std::string& path) = 0;

    // How the OS knows drive `number` and its volumes now, to tell two drives
    // of one model apart: "disk 2 (E:, F:)", its number and the letters of
    // its volumes, asked through the calls above (platform/drive_identity.cpp;
    // Windows and the simulated machine). The Linux backend answers
    // "/dev/sdc (BOOT, DATA)", its device and its volumes' labels. A drive
    // without volumes has "(no volumes)".
    virtual std::string driveIdentity(int number);

    // The OS's name of drive `number`, for a list a person reads beside the
    // number: "\\.\PhysicalDrive2 E: F:", with the letters of its volumes
    // (platform/drive_identity.cpp; Windows and the simulated machine). The
    // Linux backend answers its device, "/dev/sdc".
    virtual std::string devicePath(int number);

    // The debugger output channel.
    virtual void OutputDebugStringA(const char* text) = 0;

    // Milliseconds from a fixed moment, and a pause of the calling thread. The
    // logic waits and times its retries through these only.
    virtual uint64_t GetTickCount64() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The backend in force. The native one unless a test or the demo installed another.
Platform& os();
// Makes `backend` the one in force and returns the previous one (may be null
// for the default native backend). The caller keeps ownership of `backend`.
Platform* setOs(Platform* backend);
// The native backend of this build (win32 or linux).
std::unique_ptr<Platform> makeNativePlatform();

}  // namespace platform
