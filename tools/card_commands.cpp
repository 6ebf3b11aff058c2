#include "tools/card_commands.h"

#include "bootloader/boot_sectors.h"
#include "deploy/mounted_volume_deployer.h"
#include "disk/drive_fault.h"
#include "disk/drive_probe.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/format_partition.h"
#include "install/bootloader_stage.h"
#include "install/drive_run_guard.h"
#include "install/drive_fit.h"
#include "install/failure_account.h"
#include "install/held_drive.h"
#include "install/installation.h"
#include "install/interrupted_run.h"
#include "install/partition_format_stage.h"
#include "install/stage_spans.h"
#include "release/version.h"
#include "tools/busy_volume.h"
#include "tools/card_help.h"
#include "tools/card_line.h"
#include "tools/card_station.h"
#include "inspect/card_inspection.h"
#include "tools/card_target.h"
#include "tools/console_report.h"
#include "tools/image_deployer.h"
#include "tools/held_back_report.h"
#include "tools/image_lock.h"
#include "tools/image_output.h"
#include "tools/interrupt_cleanup.h"
#include "inspect/partition_entry_check.h"
#include "tools/os_services.h"
#include "tools/payload_names.h"
#include "util/debug.h"

#include <QFileInfo>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>

namespace {

// A single stage run on its own shows the whole bar.
constexpr int STAGE_FIRST = 0, STAGE_LAST = 100;

// A stage sets `refused` when it wrote nothing and has said why in one sentence.
using DiskStage = std::function<bool(const HeldDrive&, StageReport&, bool& refused)>;

// Why drive `number`, with media, is not offered; empty when it has no media
// (an empty reader slot is no news). Sets `rightsRefused` when it could not
// even be opened for want of rights.
std::string whyNotOffered(int number, bool& rightsRefused) {
    const DriveState state = examineDrive(number);
    if (!state.opened) {
        rightsRefused = rightsRefused || state.openError == platform::ERROR_ACCESS_DENIED;
        return std::string();
    }
    if (!state.media) return std::string();
    const std::string drive = "Drive " + std::to_string(number) + " is not offered: ";
    if (!state.removable) return drive + "its media are not removable (a fixed disk).";
    const std::string unfit = driveFitSentence(state, "drive " + std::to_string(number));
    if (!unfit.empty()) return drive + unfit;
    return drive + "it gives no device description.";
}

// The drives the wizard offers, with the same probe: number, the OS's name of
// the drive, and the row text as the wizard shows it untranslated. Those with
// media that are not offered, and why, go to `err`; so does a list with no
// row at all.
int listCommand(std::ostream& out, std::ostream& err) {
    int rows = 0;
    bool rightsRefused = false;
    for (int number = FIRST_PROBED_DRIVE; number <= LAST_PROBED_DRIVE; ++number) {
        DriveDescription drive;
        // A card its layout cannot go on is refused by every run: not offered.
        if (!probeDrive(number, drive) ||
            driveFitCause(examineDrive(number)) != platform::FailureCause::Unknown) {
            const std::string why = whyNotOffered(number, rightsRefused);
            if (!why.empty()) err << why << '\n';
            continue;
        }
        const DriveCapacity capacity = driveCapacity(drive.diskSize);
        // The OS's name of the drive beside its number: two readers of one
        // model are told apart by it.
        out << number << '\t' << platform::os().devicePath(number) << '\t' << drive.vendor << ' '
            << drive.product << ' ' << capacity.whole << ' ' << capacity.unit << '\n';
        ++rows;
    }
    out.flush();
    if (rows == 0) {
        err << "No removable drive with a card was found.";
        if (rightsRefused)
            err << " Some drives could not be opened: run t6-card as administrator (or with sudo) "
                   "to see them.";
        err << '\n';
    }
    err.flush();
    return EXIT_OK;
}

// A drive target must name a drive and hold removable media (a loop device
// let in with --allow-loop need not); an image target must exist. The target
// is made only when the checks pass.
std::unique_ptr<InstallTarget> checkedTarget(CardOptions& options, std::ostream& err) {
    if (!resolveDevicePath(options, err)) return nullptr;
    if (options.driveNumber != NO_DRIVE &&
        !checkRemovableDrive(options.driveNumber, !options.loopDevice, err))
        return nullptr;
    return makeTarget(options, err);
}

// The last line of a failed run on a drive: the sentence of its cause, or
// `otherwise` where no cause of the table fits (a third volume has its own).
void endFailedRun(const InstallTarget& target, const RunProgress& progress,
                  const MountedVolumeLeft& left, const std::string& otherwise, std::ostream& err,
                  const RunOutcome& outcome = RunOutcome()) {
    const FailureAccount account = accountForRun(target, progress, left, outcome);
    if (!account.sentence.empty())
        err << account.sentence << std::endl;
    else
        err << (left.third != '\0' || left.unnamed ? leftMountedSentence(left.refused, left.third)
                                                   : otherwise)
            << std::endl;
}

// An image about to be written, under its lock. A run that holds the lock is
// named even where the image is not there yet (it may be the one building
// it); a lock file that cannot be made at all is mostly a missing image or
// folder, which is then said instead.
bool takeImageForWriting(ImageLock& lock, const std::string& path, std::ostream& err) {
    std::ostringstream refusal;
    if (lock.take(path, refusal)) return checkImageForWriting(path, err);
    if (lock.heldByAnother() || checkImageForWriting(path, err)) err << refusal.str();
    return false;
}

// One run per drive: the guard is taken before anything asks the drive, since
// a run under way holds it exclusively and the checks would fail on that.
// False, with the sentence, when another run holds it.
bool guardDrive(const DriveRunGuard& guard, int driveNumber, std::ostream& err) {
    if (!guard.heldElsewhere()) return true;
    platform::CauseDetails details;
    details.target = InstallTarget(driveNumber).name();
    err << platform::causeSentence(platform::FailureCause::AnotherRun, details)
        << std::endl;
    return false;
}

// Holds the target as the installation does, runs one stage on it and gives
// the drive back.
int runDiskStage(CardOptions options, std::ostream& out, std::ostream& err, const char* failure,
                 const DiskStage& stage) {
    // An image is written by one run at a time; an interrupt removes the lock.
    InterruptCleanup interrupts;
    ImageLock lock;
    if (!options.namesDrive() && !takeImageForWriting(lock, options.target, err))
        return EXIT_FAILED;
    if (!resolveDevicePath(options, err)) return EXIT_FAILED;
    std::optional<DriveRunGuard> guard;
    if (options.driveNumber != NO_DRIVE) guard.emplace(options.driveNumber);
    if (guard && !guardDrive(*guard, options.driveNumber, err)) return EXIT_FAILED;
    const std::unique_ptr<InstallTarget> target = checkedTarget(options, err);
    if (!target) return EXIT_FAILED;
    ConsoleReport console(out);
    RunProgress report(console);
    forgetDriveFault();
    bool done = false, refused = false;
    {
        HeldDrive drive(*target);
        // A volume that stays mounted would write its cached state over the
        // new card: the drive is not even opened.
        if (!drive.volumesHeld()) {
            endFailedRun(*target, report,
                         {drive.refusedVolume(), drive.thirdVolume(), drive.unnamedVolumeLeft()},
                         "", err);
            return EXIT_FAILED;
        }
        if (!drive.open()) {
            drive.release();
            endFailedRun(*target, report, {}, "Could not open " + target->name() + " for writing.",
                         err);
            return EXIT_FAILED;
        }
        done = stage(drive, report, refused) && !report.failed();
        done = drive.release() && done;
    }
    if (!done && refused) return EXIT_FAILED;
    if (!done) {
        if (const auto* image = dynamic_cast<const ImageTarget*>(target.get()))
            explainImageWriteError(*image, target->name(), err);
        endFailedRun(*target, report, {}, failure + (" on " + target->name() + "."), err);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int partitionCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The partition table could not be written",
                        [](const HeldDrive& drive, StageReport& report, bool&) {
                            report.show(STAGE_FIRST, "Partitioning drive...");
                            if (!writePartitionTable(drive.handle(), drive.diskSectors(),
                                                     drive.heads(), drive.sectorsPerTrack(),
                                                     CARD_LAYOUT)) {
                                debugPrint("Failed partitioning disk\n");
                                return false;
                            }
                            report.show(STAGE_LAST, "Partitioning complete");
                            return true;
                        });
}

// The formatter writes wherever the entry points; refuse before it does.
// `refused`: the card itself is sound, the sentence said is the whole story;
// a sector that cannot be read leaves the drive's fault to be told as well.
bool partitionEntryUsable(const HeldDrive& card, const std::string& name, uint32_t index,
                          bool& refused, std::ostream& err) {
    uint8_t mbr[SECTOR_BYTES];
    std::string reason;
    refused = true;
    if (card.diskSectors() == 0) {
        reason = name + " has 0 sectors; a partition table needs at least 1.";
    } else if (!readSector(card.handle(), 0, mbr)) {
        refused = false;
        reason = "Sector 0 cannot be read.";
    } else if (checkPartitionEntry(mbr, index, card.diskSectors(),
                                   STAGE15_FIRST_LBA + grubBootImages().stage15Sectors, reason)) {
        return true;
    }
    err << reason << " Nothing was written." << std::endl;
    return false;
}

int formatCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The partition could not be formatted",
                        [&options, &err](const HeldDrive& drive, StageReport& report,
                                         bool& refused) {
                            if (!partitionEntryUsable(drive, options.target,
                                                      options.partitionIndex, refused, err))
                                return false;
                            report.show(STAGE_FIRST, "Formatting partition...");
                            if (!formatPartition(drive.handle(), drive.diskSectors(), drive.heads(),
                                                 drive.sectorsPerTrack(), options.partitionIndex,
                                                 options.fatType, options.clusterBytes,
                                                 options.label.c_str(), nullptr)) {
                                debugPrint("Failed formatting disk %u\n", options.partitionIndex);
                                return false;
                            }
                            report.show(STAGE_LAST, "Formatting complete");
                            return true;
                        });
}

// Stage 1 goes in before stage 1.5 finds no room: a card too small for both
// is refused before either is written.
bool roomForBootLoader(const HeldDrive& card, std::ostream& err) {
    const uint64_t needed = STAGE15_FIRST_LBA + grubBootImages().stage15Sectors;
    if (card.diskSectors() >= needed) return true;
    err << "The card has " << card.diskSectors() << " sectors; the boot loader needs " << needed
        << ". Nothing was written." << std::endl;
    return false;
}

int bootloaderCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The boot loader could not be written",
                        [&err](const HeldDrive& drive, StageReport& report, bool& refused) {
                            refused = !roomForBootLoader(drive, err);
                            if (refused) return false;
                            // The installation's span: the stage's steps are
                            // fractions of it that only fit a span of its size.
                            const StageSpan span = INSTALLATION_SPANS.bootloader;
                            installBootloader(report, drive.handle(), span.first, span.last);
                            return true;
                        });
}

// The payload as the installation takes it: a relative source that is not
// below the working folder is looked for below t6-card's own folder. The
// run's own files are never part of it.
PayloadSources cardSources(const CardOptions& options,
                           const std::vector<std::string>& runFiles = {}) {
    PayloadSources sources{QString::fromStdString(options.filesDir),
                           QString::fromStdString(options.firmwareFile),
                           QStringList{QString::fromStdString(programFolder())}};
    locateSources(sources);
    for (const std::string& file : runFiles) {
        const QString canonical = QFileInfo(QString::fromStdString(file)).canonicalFilePath();
        if (!canonical.isEmpty()) sources.leftOut.append(canonical);
    }
    return sources;
}

// The boot folder and the firmware exist and hold the boot files, and mcopy
// is there when they go into an image. The sources named in `options` become
// where they were found.
bool checkSources(CardOptions& options, bool intoImage, std::ostream& err) {
    const PayloadSources sources = cardSources(options);
    options.filesDir = sources.bootFolder.toStdString();
    options.firmwareFile = sources.firmware.toStdString();
    std::error_code error;
    if (!std::filesystem::is_directory(options.filesDir, error)) {
        err << "The boot folder " << options.filesDir << " does not exist." << std::endl;
        return false;
    }
    if (!std::filesystem::is_regular_file(options.firmwareFile, error)) {
        err << "The firmware file " << options.firmwareFile << " does not exist." << std::endl;
        return false;
    }
    std::string reason;
    if (!payloadHoldsBootFiles(sources, reason)) {
        err << reason << std::endl;
        return false;
    }
    // mcopy meets such a name with a question on the terminal, or changes it.
    if (!payloadNamesFitFat(options.filesDir, reason)) {
        err << "The boot folder " << options.filesDir << " cannot go onto the card: " << reason
            << std::endl;
        return false;
    }
    if (intoImage && !payloadNamesNumberable(options.filesDir, reason)) {
        err << "The boot folder " << options.filesDir << " cannot go into an image: " << reason
            << std::endl;
        return false;
    }
    if (intoImage && !haveMcopy()) {
        err << "Copying files into an image needs mcopy; install mtools." << std::endl;
        return false;
    }
    return true;
}

// The boot files read back from the finished image: a name mcopy changed on
// its way in, or a file that did not arrive whole, fails the run.
bool holdsPayload(const InstallTarget& target, const CardOptions& options,
                  const std::vector<std::string>& runFiles, std::ostream& err) {
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint64_t diskSectors = 0;
    if (!openForReading(target, handle, diskSectors)) {
        waitIfInterrupted();  // an interrupt removes an image being built
        err << "Could not open " << target.name() << " to compare it with the payload." << std::endl;
        return false;
    }
    const PayloadSources sources = cardSources(options);
    const CardPayload payload{sources.bootFolder.toStdString(), sources.firmware.toStdString(),
                              runFiles};
    const std::vector<std::string> differences = comparePayloadOnCard(handle, diskSectors, payload);
    closeForReading(handle);
    if (!differences.empty()) waitIfInterrupted();
    for (const std::string& difference : differences) err << difference << std::endl;
    return differences.empty();
}

// The installation on an existing image file; the boot files go in when
// given. `name` is the image as the user named it; `runFiles` are the files
// of this run, which never go onto the card.
bool installIntoImage(const CardOptions& options, const std::string& name,
                      const std::vector<std::string>& runFiles, StageReport& report,
                      std::ostream& err) {
    const ImageTarget target(options.target, options.heads, options.sectorsPerTrack);
    std::unique_ptr<ImageDeployer> deployer;
    if (!options.filesDir.empty())
        deployer = std::make_unique<ImageDeployer>(options.target, name,
                                                   cardSources(options, runFiles), err, runFiles);
    runInstallation(report, target, deployer.get());
    if (report.failed()) explainImageWriteError(target, name, err);
    return !report.failed() && (!deployer || holdsPayload(target, options, runFiles, err));
}

int imageCommand(CardOptions options, std::ostream& out, std::ostream& err) {
    if (!options.filesDir.empty() && !checkSources(options, true, err)) return EXIT_FAILED;
    InterruptCleanup interrupts;
    ImageOutput output(options.target, options.force);
    if (!output.create(options.imageSectors * SECTOR_BYTES, err)) return EXIT_FAILED;
    CardOptions building = options;
    building.target = output.buildPath();
    const std::vector<std::string> runFiles = {options.target, ImageLock::pathFor(options.target),
                                               output.buildPath()};
    // Success is told only once the image is in place under its name.
    HeldBackReport report(out, INSTALLATION_SPANS.finished);
    if (installIntoImage(building, options.target, runFiles, report, err) && output.commit(err)) {
        report.release();
        return EXIT_OK;
    }
    if (!report.failed()) {
        report.resetProgress();
        report.showText("Finished - an error occurred");
    }
    output.discard(err);
    err << "The image " << options.target << " could not be built"
        << (output.buildPath().empty() ? "; nothing of it was left behind." : ".") << std::endl;
    return EXIT_FAILED;
}

// The wizard's whole rebuild of a card, or of an existing image file.
int installCommand(CardOptions options, std::ostream& out, std::ostream& err) {
    // An interrupt stops mcopy and removes the staging folder; the card or
    // image itself is the user's and stays as far as it got.
    InterruptCleanup interrupts;
    if (!options.namesDrive()) {
        // Two runs on one image would interleave their writes: one at a time.
        ImageLock lock;
        if (!takeImageForWriting(lock, options.target, err) || !checkSources(options, true, err))
            return EXIT_FAILED;
        ConsoleReport console(out);
        RunProgress report(console);
        // An interrupt says how far the image got: it is the user's, not ours to remove.
        const InterruptImageRun underWay(report, options.target);
        if (installIntoImage(options, options.target,
                             {options.target, ImageLock::pathFor(options.target)}, report, err))
            return EXIT_OK;
        err << "The installation on " << options.target << " failed." << std::endl;
        return EXIT_FAILED;
    }
    if (!checkSources(options, false, err) || !resolveDevicePath(options, err)) return EXIT_FAILED;
    const DriveRunGuard guard(options.driveNumber);
    if (!guardDrive(guard, options.driveNumber, err)) return EXIT_FAILED;
    const std::unique_ptr<InstallTarget> target = checkedTarget(options, err);
    if (!target) return EXIT_FAILED;
    // The drive as it is now is the one the installation must still find.
    target->setListed({examineDrive(options.driveNumber).description, !options.loopDevice});
    ConsoleReport console(out);
    RunProgress report(console);
    const InterruptibleRun underWay(report);
    forgetDriveFault();
    MountedVolumeDeployer deployer(cardSources(options));
    MountedVolumeLeft left;
    const RunOutcome outcome = runInstallation(report, *target, &deployer, &left, true);
    if (!report.failed()) return EXIT_OK;
    endFailedRun(*target, report, left, "The installation on " + target->name() + " failed.", err,
                 outcome);
    return EXIT_FAILED;
}

int inspectCommand(CardOptions options, std::ostream& out, std::ostream& err) {
    if (!resolveDevicePath(options, err)) return EXIT_FAILED;
    const std::unique_ptr<InstallTarget> target = makeTarget(options, err);
    if (!target) return EXIT_FAILED;
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint64_t diskSectors = 0;
    if (!openForReading(*target, handle, diskSectors)) {
        err << "Could not open " << target->name() << " for reading." << std::endl;
        return EXIT_FAILED;
    }
    // The image and its lock stay out of the payload, as image leaves them out.
    const CardPayload payload{options.filesDir, options.firmwareFile,
                              {options.target, ImageLock::pathFor(options.target)}};
    const CardInspection inspection = inspectCard(handle, diskSectors, grubBootImages(),
                                                  options.filesDir.empty() ? nullptr : &payload);
    closeForReading(handle);
    for (const std::string& line : inspection.report) out << line << '\n';
    if (inspection.ok()) {
        out << "card OK" << std::endl;
        return EXIT_OK;
    }
    out << "Findings:\n";
    for (const std::string& finding : inspection.findings) out << "  " << finding << '\n';
    out.flush();
    return EXIT_FAILED;
}

}  // namespace

int runCardCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    switch (options.command) {
    case CardCommand::Help:
        out << cardUsage() << cardHelpDetails();
        return EXIT_OK;
    case CardCommand::Version:
        out << "t6-card " << versionText(programVersion) << std::endl;
        return EXIT_OK;
    case CardCommand::List:
        return listCommand(out, err);
    case CardCommand::Image:
        return imageCommand(options, out, err);
    case CardCommand::Install:
        if (options.manyTargets()) return installManyCommand(options, out, err);
        return installCommand(options, out, err);
    case CardCommand::Station:
        return stationCommand(options, out, err);
    case CardCommand::Partition:
        return partitionCommand(options, out, err);
    case CardCommand::Format:
        return formatCommand(options, out, err);
    case CardCommand::Bootloader:
        return bootloaderCommand(options, out, err);
    case CardCommand::Inspect:
        return inspectCommand(options, out, err);
    }
    return EXIT_USAGE;
}

bool checkCardSources(CardOptions& options, std::ostream& err) {
    return checkSources(options, false, err);
}

int runCard(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    CardOptions options;
    std::string error;
    if (!parseCardOptions(arguments, options, error)) {
        err << cardUsageError(error);
        err.flush();
        return EXIT_USAGE;
    }
    return runCardCommand(options, out, err);
}
