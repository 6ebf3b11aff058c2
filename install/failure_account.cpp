#include "install/failure_account.h"

#include "disk/drive_fault.h"
#include "disk/card_requests.h"
#include "install/drive_fit.h"
#include "platform/platform.h"

using platform::FailureCause;

namespace {

// The drive as it is now, asked the way the drive list asks it.
struct DriveNow {
    uint32_t openError = platform::ERROR_SUCCESS;  // the drive cannot be opened
    bool medium = false;
    bool writable = false;
};

DriveNow probeAgain(const InstallTarget& target) {
    platform::Platform& os = platform::os();
    DriveNow now;
    const platform::Handle handle =
        os.CreateFileA(target.drivePath(), platform::GENERIC_READ,
                       platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                       platform::OPEN_EXISTING, 0);
    if (handle == platform::INVALID_HANDLE_VALUE) {
        now.openError = os.GetLastError();
        if (now.openError == platform::ERROR_SUCCESS) now.openError = platform::ERROR_GEN_FAILURE;
        return now;
    }
    uint32_t returned = 0;
    now.medium = os.DeviceIoControl(handle, platform::IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0,
                                    nullptr, 0, &returned);
    now.writable = os.DeviceIoControl(handle, platform::IOCTL_DISK_IS_WRITABLE, nullptr, 0,
                                      nullptr, 0, &returned) ||
                   os.GetLastError() != platform::ERROR_WRITE_PROTECT;
    os.CloseHandle(handle);
    return now;
}

// A card gone or without its medium: taken out during the run, or never there.
FailureCause goneCause(bool started) {
    return started ? FailureCause::CardRemoved : FailureCause::NoCard;
}

FailureCause causeFromFault(const DriveFault& fault, bool started) {
    const FailureCause cause = platform::causeOfError(fault.code);
    switch (cause) {
    case FailureCause::NoCard:
    case FailureCause::CardRemoved:
        return goneCause(started);
    case FailureCause::NoRights:
        // Only the first open, refused before anything was written, means the
        // rights are missing. A refused write comes after the volumes were
        // taken: something outside the program stands in the way.
        if (fault.where == DriveFault::OPEN && !started) return cause;
        return fault.where == DriveFault::SECTOR ? FailureCause::WritesRefused
                                                 : FailureCause::Unknown;
    case FailureCause::Unknown:
        // A sector that read back wrong or moved short: the card's own fault.
        return fault.where == DriveFault::SECTOR && fault.code == 0 ? FailureCause::SectorUnwritable
                                                                   : cause;
    default:
        return cause;
    }
}

FailureAccount account(FailureCause cause, const platform::CauseDetails& details) {
    FailureAccount result;
    // A sentence about a place that is not known would name none: the
    // caller's own words say more.
    const std::string sentence = platform::failureCauseRow(cause).sentence;
    if (details.place.empty() && sentence.find("{place}") != std::string::npos)
        cause = FailureCause::Unknown;
    result.cause = cause;
    if (cause != FailureCause::Unknown) result.sentence = platform::causeSentence(cause, details);
    return result;
}

}  // namespace

std::string volumePlace(char letter) {
    std::string place = platform::os().volumeRoot(letter);
    while (place.size() > 1 && (place.back() == '/' || place.back() == '\\')) place.pop_back();
    if (place.empty()) place = std::string(1, letter) + ":";
    return place;
}

FailureAccount accountForFailure(const InstallTarget& target, const RunProgress& progress,
                                 const MountedVolumeLeft& left) {
    // An interrupt under way has the last word.
    holdIfCardRequestsStopped();
    platform::CauseDetails details;
    details.target = target.name();
    details.progress = progress.howFar();
    if (left.anotherRun) return account(FailureCause::AnotherRun, details);
    if (left.refused != '\0') {
        details.place = volumePlace(left.refused);
        return account(FailureCause::VolumeBusy, details);
    }
    // A third volume, or one without a letter left mounted, is a matter of the
    // card's layout, not a cause of the table;
    // the drive was never opened and is not probed now either.
    if (left.third != '\0' || left.unnamed) return FailureAccount();
    const bool started = progress.started();
    const DriveNow now = probeAgain(target);
    FailureCause cause = FailureCause::Unknown;
    if (now.openError != platform::ERROR_SUCCESS) {
        cause = platform::causeOfError(now.openError);
        // Any other refusal of a drive that was there at the start, or any
        // refusal once it was written: it went away. Another program holding
        // the drive is said as such.
        if (cause != FailureCause::DriveHeld && (cause != FailureCause::NoRights || started))
            cause = goneCause(started);
    } else if (!now.medium) {
        cause = goneCause(started);
    } else if (!started) {
        // Refused before anything was written: a card its layout cannot go on.
        const DriveState state = examineDrive(target.driveNumber());
        const std::string unfit = driveFitSentence(state, target.name());
        if (!unfit.empty()) return {driveFitCause(state), unfit};
        cause = now.writable ? causeFromFault(lastDriveFault(), started)
                             : FailureCause::WriteProtected;
    } else if (!now.writable) {
        cause = FailureCause::WriteProtected;
    } else {
        cause = causeFromFault(lastDriveFault(), started);
    }
    return account(cause, details);
}

FailureAccount accountForRun(const InstallTarget& target, const RunProgress& progress,
                             const MountedVolumeLeft& left, const RunOutcome& outcome) {
    if (outcome.notAsWritten.empty()) return accountForFailure(target, progress, left);
    holdIfCardRequestsStopped();
    platform::CauseDetails details;
    details.target = target.name();
    details.finding = outcome.notAsWritten;
    return account(FailureCause::NotAsWritten, details);
}

FailureAccount accountForRefusedOpen(const InstallTarget& target, uint32_t error) {
    platform::CauseDetails details;
    details.target = target.name();
    const FailureCause cause = platform::causeOfError(error);
    if (cause != FailureCause::NoCard && cause != FailureCause::NoRights &&
        cause != FailureCause::DriveHeld)
        return FailureAccount();
    return account(cause, details);
}

std::string runEndSentence(const FailureAccount& account, const RunProgress& progress,
                           std::string lastDebugLine) {
    if (!account.sentence.empty()) return account.sentence;
    while (!lastDebugLine.empty() && (lastDebugLine.back() == '\n' || lastDebugLine.back() == '\r'))
        lastDebugLine.pop_back();
    const std::string at = progress.stoppedAt();
    // A refusal before the run that says its cause in a sentence of its own
    // (the boot folder that would not boot) is the cause as it stands.
    if (at.empty() && !lastDebugLine.empty() && lastDebugLine.back() == '.' &&
        lastDebugLine.front() >= 'A' && lastDebugLine.front() <= 'Z')
        return lastDebugLine;
    std::string sentence = at.empty() ? "The run stopped before anything was written to the card"
                                      : "The run stopped at " + at;
    return sentence + (lastDebugLine.empty() ? "." : ": " + lastDebugLine);
}
