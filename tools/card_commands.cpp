#include "tools/card_commands.h"

#include "bootloader/boot_sectors.h"
#include "deploy/mounted_volume_deployer.h"
#include "disk/drive_probe.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/format_partition.h"
#include "install/bootloader_stage.h"
#include "install/held_drive.h"
#include "install/installation.h"
#include "install/partition_format_stage.h"
#include "install/stage_spans.h"
#include "tools/busy_volume.h"
#include "tools/card_inspection.h"
#include "tools/card_target.h"
#include "tools/console_report.h"
#include "tools/image_deployer.h"
#include "tools/held_back_report.h"
#include "tools/image_output.h"
#include "tools/interrupt_cleanup.h"
#include "tools/os_services.h"
#include "tools/partition_entry_check.h"
#include "util/debug.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <system_error>

namespace {

// A single stage run on its own shows the whole bar.
constexpr int STAGE_FIRST = 0, STAGE_LAST = 100;

using DiskStage = std::function<bool(const HeldDrive&, ConsoleReport&)>;

// The drives the wizard offers, with the same probe; the row text as the
// wizard shows it untranslated.
int listCommand(std::ostream& out) {
    for (int number = FIRST_PROBED_DRIVE; number <= LAST_PROBED_DRIVE; ++number) {
        DriveDescription drive;
        if (!probeDrive(number, drive)) continue;
        const DriveCapacity capacity = driveCapacity(drive.diskSize);
        out << number << '\t' << drive.vendor << ' ' << drive.product << ' ' << capacity.whole
            << ' ' << capacity.unit << '\n';
    }
    out.flush();
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

// Holds the target as the installation does, runs one stage on it and gives
// the drive back.
int runDiskStage(CardOptions options, std::ostream& out, std::ostream& err, const char* failure,
                 const DiskStage& stage) {
    const std::unique_ptr<InstallTarget> target = checkedTarget(options, err);
    if (!target) return EXIT_FAILED;
    ConsoleReport report(out);
    bool done = false;
    {
        HeldDrive drive(*target);
        // A volume that stays mounted would write its cached state over the
        // new card: the drive is not even opened.
        if (!drive.volumesHeld()) {
            err << leftMountedSentence(drive.refusedVolume(), drive.thirdVolume()) << std::endl;
            return EXIT_FAILED;
        }
        if (!drive.open()) {
            err << "Could not open " << target->name() << " for writing." << std::endl;
            return EXIT_FAILED;
        }
        done = stage(drive, report) && !report.failed();
        done = drive.release() && done;
    }
    if (!done) {
        err << failure << " on " << target->name() << "." << std::endl;
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int partitionCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The partition table could not be written",
                        [](const HeldDrive& drive, ConsoleReport& report) {
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
bool partitionEntryUsable(const HeldDrive& card, uint32_t index, std::ostream& err) {
    uint8_t mbr[SECTOR_BYTES];
    std::string reason;
    if (!readSector(card.handle(), 0, mbr)) {
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
                        [&options, &err](const HeldDrive& drive, ConsoleReport& report) {
                            if (!partitionEntryUsable(drive, options.partitionIndex, err))
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

int bootloaderCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The boot loader could not be written",
                        [](const HeldDrive& drive, ConsoleReport& report) {
                            // The installation's span: the stage's steps are
                            // fractions of it that only fit a span of its size.
                            const StageSpan span = INSTALLATION_SPANS.bootloader;
                            installBootloader(report, drive.handle(), span.first, span.last);
                            return true;
                        });
}

// The payload as the installation takes it: a relative source that is not
// below the working folder is looked for below t6-card's own folder.
PayloadSources cardSources(const CardOptions& options) {
    PayloadSources sources{QString::fromStdString(options.filesDir),
                           QString::fromStdString(options.firmwareFile),
                           QString::fromStdString(programFolder())};
    locateSources(sources);
    return sources;
}

// The boot folder and the firmware exist, and mcopy is there when they go
// into an image. The sources named in `options` become where they were found.
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
    if (intoImage && !haveMcopy()) {
        err << "Copying files into an image needs mcopy; install mtools." << std::endl;
        return false;
    }
    return true;
}

// The installation on an existing image file; the boot files go in when given.
bool installIntoImage(const CardOptions& options, ConsoleReport& report, std::ostream& err) {
    const ImageTarget target(options.target, options.heads, options.sectorsPerTrack);
    std::unique_ptr<ImageDeployer> deployer;
    if (!options.filesDir.empty())
        deployer = std::make_unique<ImageDeployer>(options.target, cardSources(options), err);
    runInstallation(report, target, deployer.get());
    return !report.failed();
}

int imageCommand(CardOptions options, std::ostream& out, std::ostream& err) {
    if (!options.filesDir.empty() && !checkSources(options, true, err)) return EXIT_FAILED;
    InterruptCleanup interrupts;
    ImageOutput output(options.target, options.force);
    if (!output.create(options.imageSectors * SECTOR_BYTES, err)) return EXIT_FAILED;
    CardOptions building = options;
    building.target = output.buildPath();
    // Success is told only once the image is in place under its name.
    HeldBackReport report(out, INSTALLATION_SPANS.finished);
    if (installIntoImage(building, report, err) && output.commit(err)) {
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
        if (!checkImageFile(options.target, err) || !checkSources(options, true, err))
            return EXIT_FAILED;
        ConsoleReport report(out);
        if (installIntoImage(options, report, err)) return EXIT_OK;
        err << "The installation on " << options.target << " failed." << std::endl;
        return EXIT_FAILED;
    }
    if (!checkSources(options, false, err)) return EXIT_FAILED;
    const std::unique_ptr<InstallTarget> target = checkedTarget(options, err);
    if (!target) return EXIT_FAILED;
    // The drive as it is now is the one the installation must still find.
    target->setListed({examineDrive(options.driveNumber).description, !options.loopDevice});
    ConsoleReport report(out);
    MountedVolumeDeployer deployer(cardSources(options));
    MountedVolumeLeft left;
    runInstallation(report, *target, &deployer, &left);
    if (!report.failed()) return EXIT_OK;
    if (left.refused != '\0' || left.third != '\0')
        err << leftMountedSentence(left.refused, left.third) << std::endl;
    else
        err << "The installation on " << target->name() << " failed." << std::endl;
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
    const CardPayload payload{options.filesDir, options.firmwareFile};
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
        out << cardUsage();
        return EXIT_OK;
    case CardCommand::List:
        return listCommand(out);
    case CardCommand::Image:
        return imageCommand(options, out, err);
    case CardCommand::Install:
        return installCommand(options, out, err);
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

int runCard(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    CardOptions options;
    std::string error;
    if (!parseCardOptions(arguments, options, error)) {
        err << error << '\n' << cardUsage();
        err.flush();
        return EXIT_USAGE;
    }
    return runCardCommand(options, out, err);
}
