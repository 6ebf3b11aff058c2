#include "install/installation.h"

#include "deploy/mounted_volume_deployer.h"
#include "disk/drive_fault.h"
#include "disk/raw_disk.h"
#include "install/bootloader_stage.h"
#include "install/card_readback.h"
#include "install/deploy_stage.h"
#include "install/drive_run_guard.h"
#include "install/failure_account.h"
#include "install/held_drive.h"
#include "install/interrupted_run.h"
#include "install/install_checks.h"
#include "install/partition_format_stage.h"
#include "install/stage_spans.h"
#include "util/debug.h"
#include "util/text.h"

#include <QCoreApplication>

#include <optional>

RunOutcome runInstallation(StageReport& report, const InstallTarget& target, FileDeployer* deployer,
                           MountedVolumeLeft* left, bool driveGuarded) {
    RunOutcome outcome;
    const InstallationSpans& spans = INSTALLATION_SPANS;
    PartitionPlace boot;
    // Held to the end of the run, the files' read-back included.
    std::optional<DriveRunGuard> guard;
    if (!driveGuarded) guard.emplace(target.driveNumber());
    const bool anotherRun = guard && guard->heldElsewhere();
    if (anotherRun && left != nullptr) left->anotherRun = true;
    // A run that cannot succeed stops before anything of the card is touched.
    const bool mayStart = !anotherRun && installationMayStart(target, deployer, &report);
    report.keepAlive();
    if (!mayStart) report.setFailed();
    if (mayStart) {
        HeldDrive drive(target, &report);
        report.keepAlive();
        // A volume left mounted could write its cached state over the new
        // card later: the drive is not even opened.
        if (!drive.volumesHeld()) {
            report.setFailed();
            debugPrint("Failed to take the volumes of the disk\n");
            if (left != nullptr)
                *left = {drive.refusedVolume(), drive.thirdVolume(), drive.unnamedVolumeLeft()};
        } else if (!drive.open()) {
            report.setFailed();
        }

        if (!report.failed()) {
            partitionAndFormat(report, drive.handle(), drive.diskSectors(), drive.heads(),
                               drive.sectorsPerTrack(), spans.partitionFormat.first,
                               spans.partitionFormat.last);
            // The boot loader goes only onto a card that was partitioned and formatted.
            if (!report.failed())
                installBootloader(report, drive.handle(), spans.bootloader.first,
                                  spans.bootloader.last);
            // The deployment knows the boot volume by where it lies.
            if (!report.failed() && !readPartitionPlace(drive.handle(), 0, boot)) {
                debugPrint("Failed to read back the boot partition\n");
                report.setFailed();
            }
            // Whatever was written must be on the card before it is handed back.
            // A card reader may take seconds over it.
            const platform::Handle handle = drive.handle();
            if (!report.waitFor([handle] { return flushDisk(handle); })) report.setFailed();
        }
        // The drive and the volumes go back on every path, so nothing stays
        // locked after the run. A drive that cannot be given back leaves the
        // card in doubt, so the files are not deployed and the run ends as failed.
        if (!drive.release()) report.setFailed();
    }

    if (!report.failed() && deployer != nullptr)
        deployFiles(report, *deployer, target.driveNumber(), boot, spans.deploy.first,
                    spans.deploy.last);

    // The copies were compared with nothing yet: the card itself is read
    // back, a slow card's reads kept off the display.
    if (!report.failed() && deployer != nullptr && deployer->readBackFromCard()) {
        const PayloadSources sources = deployer->sources();
        std::string finding;
        const ReadBack read = report.waitFor([&target, &sources, &finding] {
            return readPayloadBack(target, sources, finding) == ReadBack::Same;
        }) ? ReadBack::Same : (finding.empty() ? ReadBack::Unreadable : ReadBack::Differs);
        outcome.verifiedFromCard = read == ReadBack::Same;
        if (read == ReadBack::Differs) outcome.notAsWritten = finding;
        if (read != ReadBack::Same) report.setFailed();
    }

    if (report.failed()) {
        report.resetProgress();
        report.showText("Finished - an error occurred");
    } else {
        report.show(spans.finished, "Finished successfully");
    }
    return outcome;
}

RunOutcome CardInstallation::run(StageReport& report, int driveNumber,
                                 const DriveDescription& listed, char* drivePath) {
    startDebugTranscript();
    InstallTarget target(driveNumber);
    target.setListed({listed, true});
    formatNarrow(drivePath, DRIVE_PATH_CHARS, "%s", target.drivePath());
    // An elevated start may begin in another working folder than the one
    // the program was started from: the program's own folder is the fallback.
    const QString programFolder =
        QCoreApplication::instance() != nullptr ? QCoreApplication::applicationDirPath() : QString();
    MountedVolumeDeployer deployer(wizardSources(programFolder));
    RunProgress progress(report);
    // The session ending under the run gives the card back before the process goes.
    const InterruptibleRun underWay(progress);
    endRunOnInterrupt();
    forgetDriveFault();
    MountedVolumeLeft left;
    RunOutcome outcome = runInstallation(progress, target, &deployer, &left);
    if (progress.failed()) {
        // The cause goes to the debug channel (and the support log) too.
        const FailureAccount account = accountForRun(target, progress, left, outcome);
        if (!account.sentence.empty()) debugPrint("%s\n", account.sentence.c_str());
        const std::vector<std::string> lines = debugTranscript();
        outcome.cause =
            runEndSentence(account, progress, lines.empty() ? std::string() : lines.back());
    }
    outcome.debugLines = debugTranscript();
    return outcome;
}
