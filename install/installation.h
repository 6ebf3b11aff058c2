#pragma once
// The whole rebuild of one card: the one installation sequence, whoever runs
// it (the wizard's install page, t6-card).

#include "deploy/file_deployer.h"
#include "install/install_target.h"
#include "install/stage_report.h"

#include <string>
#include <vector>

// The card volume that stopped a run before the drive was opened, still
// mounted: the first that refused its lock, or else a third volume.
struct MountedVolumeLeft {
    char refused = '\0';
    char third = '\0';
    bool unnamed = false;  // a volume without a letter refused, or was one too many
    bool anotherRun = false;  // another run holds the drive: nothing was touched
};

// What a run came to, for the page that shows its end.
struct RunOutcome {
    // Why the run failed, in one sentence; empty after a success.
    std::string cause;
    // The run's debug lines, oldest first, each with its "\n".
    std::vector<std::string> debugLines;
    // The payload was read back from the card's own sectors and found whole.
    bool verifiedFromCard = false;
    // The first difference read back; empty: none found.
    std::string notAsWritten;
};

// Takes the drive's run guard (install/drive_run_guard.h; held by another run:
// the run ends there, nothing touched) for the whole run; checks what can be
// known before the card is touched (install/install_checks.h;
// a refusal ends the run there, nothing locked or written), locks the target
// drive's volumes, opens the drive, partitions and formats
// it, writes the boot loader, releases drive and volumes, has `deployer` put
// the boot files onto the new boot volume (no deployer: the card gets no
// files), reads the payload back from the card's own sectors
// (install/card_readback.h; a difference fails the run) and shows the final
// status. Failure is left in report.failed(); a volume left mounted goes into
// `left` as well when it is given. `driveGuarded`: the caller took the guard
// itself, before checks of its own that ask the drive.
RunOutcome runInstallation(StageReport& report, const InstallTarget& target, FileDeployer* deployer,
                           MountedVolumeLeft* left = nullptr, bool driveGuarded = false);

// What the install page runs; tests hand the page a stand-in.
class Installation {
public:
    virtual ~Installation() = default;
    // Rebuilds the card in drive `driveNumber`, which must still be the
    // drive `listed`, and fills `drivePath` ("\\.\PhysicalDriveN",
    // DRIVE_PATH_CHARS characters).
    virtual RunOutcome run(StageReport& report, int driveNumber, const DriveDescription& listed,
                           char* drivePath) = 0;
};

// The wizard's installation: a drive of the backend in force, with the boot
// files and the firmware from the working directory, or else from the
// program's own folder.
class CardInstallation final : public Installation {
public:
    RunOutcome run(StageReport& report, int driveNumber, const DriveDescription& listed,
                   char* drivePath) override;
};
