#pragma once
// The one sentence that ends a failed run on a drive, naming its cause: worked
// out from what the run saw (a volume that stayed busy, the drive's last
// fault) and from the drive probed again after the failure. The sentences
// come from the one table of causes (platform/failure_causes.h).

#include "install/install_target.h"
#include "install/installation.h"
#include "install/run_progress.h"
#include "platform/failure_causes.h"

#include <string>

struct FailureAccount {
    platform::FailureCause cause = platform::FailureCause::Unknown;
    std::string sentence;  // empty for Unknown: the caller's own words stand
};

// Where a volume is seen: its mount point, or "E:" where it has none.
std::string volumePlace(char letter);

// After a failed run on `target`; `left` names a volume that kept the run off
// the card (a busy one is a cause; a third volume has none of the table).
FailureAccount accountForFailure(const InstallTarget& target, const RunProgress& progress,
                                 const MountedVolumeLeft& left);

// After a failed run with its outcome: a card that did not read back as
// written is that cause; any other failure is accounted as above.
FailureAccount accountForRun(const InstallTarget& target, const RunProgress& progress,
                             const MountedVolumeLeft& left, const RunOutcome& outcome);

// Before a run: the drive could not be opened, with `error`. Only the causes
// a drive that was never written can have (no card, no rights, held by
// another program).
FailureAccount accountForRefusedOpen(const InstallTarget& target, uint32_t error);

// The sentence a failed run ends with on screen: the account's, or for a
// failure no cause of the table explains, where the run stopped and what it
// last said: `The run stopped at "<stage>" (N%): <lastDebugLine>` (a run
// that stopped before its first stage says so instead of the stage).
std::string runEndSentence(const FailureAccount& account, const RunProgress& progress,
                           std::string lastDebugLine);
