#include "platform/failure_causes.h"

#include "platform/platform.h"

namespace platform {
namespace {

// Windows codes that platform.h does not name, for causes that Windows reports
// with them (winerror.h).
constexpr uint32_t ERROR_CRC = 23;
constexpr uint32_t ERROR_SECTOR_NOT_FOUND = 27;
constexpr uint32_t ERROR_DEV_NOT_EXIST = 55;
constexpr uint32_t ERROR_NO_SUCH_DEVICE = 433;
constexpr uint32_t ERROR_NO_MEDIA_IN_DRIVE = 1112;
constexpr uint32_t ERROR_IO_DEVICE = 1117;
constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;

// Linux errno numbers (asm-generic/errno-base.h, errno.h).
constexpr int LINUX_EPERM = 1, LINUX_ENOENT = 2, LINUX_EIO = 5, LINUX_ENXIO = 6,
              LINUX_EACCES = 13, LINUX_EBUSY = 16, LINUX_ENODEV = 19, LINUX_EROFS = 30,
              LINUX_ENOMEDIUM = 123;

}  // namespace

const std::vector<FailureCauseRow>& failureCauses() {
    static const std::vector<FailureCauseRow> rows = {
        {FailureCause::WriteProtected, "write-protected",
         {ERROR_WRITE_PROTECT},
         {LINUX_EROFS},
         "/sys/block/sdX/ro is 1 (BLKROGET); the kernel refuses to open the card for writing",
         "The card in {target} is write-protected (by the card, its adapter or the reader); "
         "nothing was written to it."},
        {FailureCause::NoCard, "no card",
         {ERROR_NOT_READY, ERROR_NO_MEDIA_IN_DRIVE},
         {LINUX_ENOMEDIUM},
         "/sys/block/sdX/size is 0: the reader is there, without a card",
         "There is no card in the reader of {target}. Insert the card and try again."},
        {FailureCause::CardRemoved, "card removed",
         {ERROR_FILE_NOT_FOUND, ERROR_DEV_NOT_EXIST, ERROR_NO_SUCH_DEVICE, ERROR_MEDIA_CHANGED,
          ERROR_DEVICE_NOT_CONNECTED},
         {LINUX_ENOENT, LINUX_ENXIO, LINUX_ENODEV},
         "/sys/block/sdX is gone (reader disconnected) or its size is 0 (card pulled) when the "
         "drive is probed again after the failure",
         "The card in {target} was removed (or its reader disconnected) during the "
         "run{progress}."},
        {FailureCause::DriveHeld, "drive held",
         {ERROR_SHARING_VIOLATION},
         {LINUX_EBUSY},
         "the drive's exclusive open (O_EXCL) is refused: another program holds the drive",
         "Another program is using {target}; close it (a file browser, a disk tool, an "
         "antivirus scan) and try again."},
        // Told by the volume that refused, which names the place; a code alone
        // never has one. On Linux umount's EBUSY is reported so.
        {FailureCause::VolumeBusy, "volume busy",
         {ERROR_LOCK_VIOLATION},
         {},
         "umount refuses the card's volume (EBUSY): a program has files open on it",
         "The card's volume at {place} is busy: a program has files open on it. Close them (or "
         "unmount the volume) and try again."},
        {FailureCause::NoRights, "no rights",
         {ERROR_ACCESS_DENIED},
         {LINUX_EACCES, LINUX_EPERM},
         "the device node refuses the open (not root)",
         "Writing to {target} needs administrator (root) rights. Start the program as "
         "administrator (or with sudo) and try again."},
        {FailureCause::SectorUnwritable, "sector not written",
         {ERROR_WRITE_FAULT, ERROR_READ_FAULT, ERROR_GEN_FAILURE, ERROR_CRC,
          ERROR_SECTOR_NOT_FOUND, ERROR_IO_DEVICE},
         {LINUX_EIO},
         "the card is still there, with its medium, when probed again after the failure",
         "A sector of the card in {target} could not be written: the card is failing. Use "
         "another card."},
        {FailureCause::AnotherRun, "another run",
         {ERROR_ALREADY_EXISTS},
         {},
         "the flock of /run/lock/zel-recovery-sdX.lock is held by another process (the named "
         "guard's own answer, not an errno of a call)",
         "Another run is rebuilding {target}; it is left alone."},
        // Found by reading the card back, not by an error code.
        {FailureCause::NotAsWritten, "not as written",
         {},
         {},
         "the card's sectors, read back with O_DIRECT after the boot volume was flushed, differ "
         "from the payload",
         "The card in {target} does not hold what was written: {finding}. The card is faulty; "
         "use another."},
        // Access denied on a write once the card's volumes were taken: no lock
        // or rights are missing then, so something outside the program refused.
        {FailureCause::WritesRefused, "writes refused",
         {},
         {},
         "a write of the opened drive refused with EACCES or EPERM (ERROR_ACCESS_DENIED) after "
         "its volumes were unmounted",
         "Writing to {target} was refused after its volumes were taken from the system: "
         "security software (an antivirus, or its protection of disks against changes) blocks "
         "writes to whole disks. Allow this program in it, or pause it, and try again."},
        // What the drive's geometry says, asked before anything is written.
        {FailureCause::SectorSize, "sector size",
         {},
         {},
         "BLKSSZGET (queue/logical_block_size) is not 512",
         "The reader of {target} uses sectors of {size} bytes; the card's boot loader and "
         "partitions need 512-byte sectors. Use another card reader."},
        {FailureCause::CardTooLarge, "card too large",
         {},
         {},
         "BLKGETSIZE64 is 2 TiB or more",
         "The card in {target} holds {size}: a partition table of this layout reaches 2 TiB at "
         "most. Use a smaller card."},
        {FailureCause::CardTooSmall, "card too small",
         {},
         {},
         "BLKGETSIZE64 leaves no room for the data partition after the boot partition",
         "The card in {target} holds {size}; the boot and data partitions need at least "
         "{minimum}. Use a larger card."},
    };
    return rows;
}

const FailureCauseRow& failureCauseRow(FailureCause cause) {
    for (const FailureCauseRow& row : failureCauses())
        if (row.cause == cause) return row;
    // Unknown has no row; its sentence is the caller's own.
    static const FailureCauseRow unknown = {FailureCause::Unknown, "unknown", {}, {}, "", ""};
    return unknown;
}

FailureCause causeOfError(uint32_t windowsCode) {
    for (const FailureCauseRow& row : failureCauses())
        for (uint32_t code : row.windowsCodes)
            if (code == windowsCode) return row.cause;
    return FailureCause::Unknown;
}

std::string causeSentence(FailureCause cause, const CauseDetails& details) {
    std::string text = failureCauseRow(cause).sentence;
    const std::pair<const char*, const std::string*> fields[] = {
        {"{target}", &details.target},
        {"{place}", &details.place},
        {"{progress}", &details.progress},
        {"{finding}", &details.finding},
        {"{size}", &details.size},
        {"{minimum}", &details.minimum},
    };
    for (const auto& field : fields) {
        const std::string key = field.first;
        for (size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + field.second->size()))
            text.replace(at, key.size(), *field.second);
    }
    return text;
}

}  // namespace platform
