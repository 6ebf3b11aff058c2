#pragma once
// Why a run on a drive failed, in the technician's words: one table of causes,
// each with the Windows error codes that show it, the Linux errno values the
// Linux backend turns into those codes, the sysfs facts it answers from, and
// the one sentence that names the cause. Both backends report through the
// Windows codes, so the sentence does not depend on the OS.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class FailureCause {
    Unknown,
    WriteProtected,
    NoCard,
    CardRemoved,
    DriveHeld,
    VolumeBusy,
    NoRights,
    SectorUnwritable,
    AnotherRun,
    NotAsWritten,
    WritesRefused,
    SectorSize,
    CardTooLarge,
    CardTooSmall,
};

struct FailureCauseRow {
    FailureCause cause;
    const char* name;
    // None where the code alone does not tell the cause: the run's account
    // tells it from what the run saw (install/failure_account.h).
    std::vector<uint32_t> windowsCodes;
    // Linux's errno numbers (the generic ABI), each mapped by the Linux
    // backend to one of windowsCodes.
    std::vector<int> linuxErrnos;
    // What the Linux backend reads to tell this cause, for the reader.
    const char* linuxFacts;
    // Placeholders: {target} ("drive 2"), {place} (a volume's mount point or
    // letter), {progress} (how far the run got), {finding} (what reading the card
    // back found; the row has no codes), {size} (the sector size or the
    // card's size), {minimum} (the smallest card that works).
    const char* sentence;
};

const std::vector<FailureCauseRow>& failureCauses();
const FailureCauseRow& failureCauseRow(FailureCause cause);

// The cause a Windows error code stands for; Unknown for codes of no row.
FailureCause causeOfError(uint32_t windowsCode);

// Placeholder values of a sentence; those a sentence does not use are ignored.
struct CauseDetails {
    std::string target;
    std::string place;
    std::string progress;
    std::string finding;
    std::string size;
    std::string minimum;
};
std::string causeSentence(FailureCause cause, const CauseDetails& details);

}  // namespace platform
