#include "tools/card_commands.h"

#include "bootloader/boot_sectors.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "fat/format_partition.h"
#include "install/bootloader_stage.h"
#include "install/partition_format_stage.h"
#include "main/drive_discovery.h"
#include "tools/boot_files_copy.h"
#include "tools/busy_volume.h"
#include "tools/card_inspection.h"
#include "tools/card_target.h"
#include "tools/console_report.h"
#include "util/debug.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <system_error>

namespace {

// Progress spans of the rebuild, as the install page shows them.
constexpr int PARTITION_FIRST = 0, PARTITION_LAST = 33;
constexpr int BOOTLOADER_FIRST = 34, BOOTLOADER_LAST = 66;
constexpr int COPY_FIRST = 67, COPY_LAST = 99;
constexpr int FINISHED = 100;
// A single stage run on its own shows the whole bar.
constexpr int STAGE_FIRST = 0, STAGE_LAST = 100;

using DiskStage = std::function<bool(const OpenCard&, ConsoleReport&)>;

// The target of a command: an image file checked to exist, or a drive.
std::unique_ptr<CardTarget> makeTarget(const CardOptions& options, std::ostream& err) {
    if (options.driveNumber != NO_DRIVE) return std::make_unique<CardTarget>(options.driveNumber);
    if (!checkImageFile(options.target, err)) return nullptr;
    return std::make_unique<CardTarget>(options.target, options.heads, options.sectorsPerTrack);
}

// Opens the target as the installation does, runs one stage on it and gives
// the drive back.
// The drives the wizard offers, with the same probe and the same row text.
int listCommand(std::ostream& out) {
    for (int number = FIRST_PROBED_DRIVE; number <= LAST_PROBED_DRIVE; ++number) {
        QString rowText;
        if (probeDrive(number, &rowText)) out << number << '\t' << rowText.toStdString() << '\n';
    }
    out.flush();
    return EXIT_OK;
}

int runDiskStage(const CardOptions& options, std::ostream& out, std::ostream& err,
                 const char* failure, const DiskStage& stage) {
    if (options.driveNumber != NO_DRIVE && !checkRemovableDrive(options.driveNumber, err))
        return EXIT_FAILED;
    const std::unique_ptr<CardTarget> target = makeTarget(options, err);
    if (!target) return EXIT_FAILED;
    ConsoleReport report(out);
    bool done = false;
    {
        OpenCard card(*target);
        if (card.refusedVolume() != '\0') {
            err << busyVolumeSentence(card.refusedVolume()) << std::endl;
            return EXIT_FAILED;
        }
        if (!card.isOpen()) {
            err << "Could not open " << target->name() << " for writing." << std::endl;
            return EXIT_FAILED;
        }
        done = stage(card, report) && !report.failed();
    }
    if (!done) {
        err << failure << " on " << target->name() << "." << std::endl;
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int partitionCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The partition table could not be written",
                        [](const OpenCard& card, ConsoleReport& report) {
                            report.show(STAGE_FIRST, "Partitioning drive...");
                            if (!writePartitionTable(card.handle(), card.diskSectors(),
                                                     card.heads(), card.sectorsPerTrack(),
                                                     CARD_LAYOUT)) {
                                debugPrint("Failed partitioning disk\n");
                                return false;
                            }
                            report.show(STAGE_LAST, "Partitioning complete");
                            return true;
                        });
}

int formatCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    return runDiskStage(options, out, err, "The partition could not be formatted",
                        [&options](const OpenCard& card, ConsoleReport& report) {
                            report.show(STAGE_FIRST, "Formatting partition...");
                            if (!formatPartition(card.handle(), card.diskSectors(), card.heads(),
                                                 card.sectorsPerTrack(), options.partitionIndex,
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
                        [](const OpenCard& card, ConsoleReport& report) {
                            // The install page's span: the stage's steps are
                            // fractions of it that only fit a span of its size.
                            installBootloader(report, card.handle(), BOOTLOADER_FIRST,
                                              BOOTLOADER_LAST);
                            return true;
                        });
}

// The first sector of partition entry 0, read back from the image's MBR.
bool bootPartitionStart(const std::string& imagePath, uint32_t& start) {
    std::ifstream image(imagePath, std::ios::binary);
    unsigned char entry[16] = {};
    image.seekg(446);
    if (!image.read(reinterpret_cast<char*>(entry), sizeof entry)) return false;
    start = uint32_t(entry[8]) | uint32_t(entry[9]) << 8 | uint32_t(entry[10]) << 16 |
            uint32_t(entry[11]) << 24;
    return start != 0;
}

bool createSparseImage(const std::string& path, uint64_t sectors, std::ostream& err) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error)) {
        err << path << " exists and is not an image file; it is left alone." << std::endl;
        return false;
    }
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (!file) {
            err << "The image file " << path << " cannot be created." << std::endl;
            return false;
        }
    }
    std::filesystem::resize_file(path, sectors * SECTOR_BYTES, error);
    if (error) {
        err << "The image file " << path << " cannot be made " << sectors * SECTOR_BYTES
            << " bytes long: " << error.message() << "." << std::endl;
        return false;
    }
    return true;
}

// The card rebuild on a new image file: partition, format, boot loader, and
// the boot files when asked for.
bool buildImage(const CardOptions& options, std::ostream& out, std::ostream& err) {
    if (!createSparseImage(options.target, options.imageSectors, err)) return false;
    ConsoleReport report(out);
    {
        CardTarget target(options.target, options.heads, options.sectorsPerTrack);
        OpenCard card(target);
        if (!card.isOpen()) {
            err << "Could not open " << options.target << " for writing." << std::endl;
            return false;
        }
        partitionAndFormat(report, card.handle(), card.diskSectors(), card.heads(),
                           card.sectorsPerTrack(), PARTITION_FIRST, PARTITION_LAST);
        if (!report.failed())
            installBootloader(report, card.handle(), BOOTLOADER_FIRST, BOOTLOADER_LAST);
    }
    if (!report.failed() && !options.filesDir.empty()) {
        report.show(COPY_FIRST, "Copying files...");
        uint32_t start = 0;
        if (!bootPartitionStart(options.target, start)) {
            err << "The boot partition of " << options.target << " cannot be found." << std::endl;
            report.setFailed();
        } else if (!copyBootFilesIntoImage(options.target, start, options.filesDir,
                                           options.firmwareFile, err)) {
            report.setFailed();
        } else {
            report.show(COPY_LAST, "Finished copying files");
        }
    }
    if (report.failed()) {
        report.resetProgress();
        report.showText("Finished - an error occurred");
        return false;
    }
    report.show(FINISHED, "Finished successfully");
    return true;
}

int imageCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.filesDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(options.filesDir, error)) {
            err << "The boot folder " << options.filesDir << " does not exist." << std::endl;
            return EXIT_FAILED;
        }
        if (!std::filesystem::is_regular_file(options.firmwareFile, error)) {
            err << "The firmware file " << options.firmwareFile << " does not exist." << std::endl;
            return EXIT_FAILED;
        }
        if (!haveMcopy()) {
            err << "Copying files into an image needs mcopy; install mtools." << std::endl;
            return EXIT_FAILED;
        }
    }
    if (buildImage(options, out, err)) return EXIT_OK;
    // A half-built image must not pass for a card image.
    std::error_code error;
    std::filesystem::remove(options.target, error);
    err << "The image " << options.target << " could not be built and has been removed."
        << std::endl;
    return EXIT_FAILED;
}

int inspectCommand(const CardOptions& options, std::ostream& out, std::ostream& err) {
    const std::unique_ptr<CardTarget> target = makeTarget(options, err);
    if (!target) return EXIT_FAILED;
    platform::Handle handle = platform::INVALID_HANDLE_VALUE;
    uint64_t diskSectors = 0;
    if (!openForReading(*target, handle, diskSectors)) {
        err << "Could not open " << target->name() << " for reading." << std::endl;
        return EXIT_FAILED;
    }
    const CardInspection inspection = inspectCard(handle, diskSectors, grubBootImages());
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
