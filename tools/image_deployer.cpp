#include "tools/image_deployer.h"

#include "deploy/boot_volume.h"
#include "deploy/copy_directory.h"
#include "disk/partition_table.h"
#include "disk/raw_disk.h"
#include "platform/little_endian.h"
#include "tools/interrupt_cleanup.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr char MCOPY[] = "mcopy";
// mcopy's time grows with the number of files in a folder far more than with
// their bytes, so no limit fits every payload: it runs until it ends, and an
// interrupt stops it.
constexpr int NO_TIME_LIMIT = -1;

fs::path absolute(const std::string& path) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    return error ? fs::absolute(path, error) : resolved;
}

bool inside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

// Copies `source` to `destination` as the deployment's copier does, but
// without the paths in `leftOut`: only the folders on the way to one of them
// are walked here, everything else goes through the copier whole.
bool stagePayload(const fs::path& source, const fs::path& destination,
                  const std::vector<fs::path>& leftOut) {
    std::error_code error;
    const bool realFolder = fs::is_directory(fs::symlink_status(source, error));
    const fs::path resolved = absolute(source.string());
    const bool holdsLeftOut = std::any_of(leftOut.begin(), leftOut.end(), [&](const fs::path& p) {
        return inside(p, resolved);
    });
    if (!realFolder || !holdsLeftOut)
        return copyDirectory(QString::fromStdString(source.string()),
                             QString::fromStdString(destination.string()));
    if (!fs::create_directory(destination, error)) return false;
    for (const fs::directory_entry& entry : fs::directory_iterator(source, error)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.') continue;  // the copier's rule
        if (std::find(leftOut.begin(), leftOut.end(), absolute(entry.path().string())) !=
            leftOut.end())
            continue;
        if (!stagePayload(entry.path(), destination / name, leftOut)) return false;
    }
    return !error;
}

}  // namespace

bool haveMcopy() {
    return !QStandardPaths::findExecutable(MCOPY).isEmpty();
}

ImageDeployer::ImageDeployer(std::string imagePath, std::string imageName, PayloadSources sources,
                             std::ostream& err, std::vector<std::string> runFiles)
    : FileDeployer(std::move(sources)), imagePath_(std::move(imagePath)),
      imageName_(std::move(imageName)), err_(err), runFiles_(std::move(runFiles)) {}

ImageDeployer::~ImageDeployer() = default;

bool ImageDeployer::findVolume(int, const PartitionPlace&) {
    std::ifstream image(imagePath_, std::ios::binary);
    uint8_t entry[MBR_ENTRY_BYTES] = {};
    image.seekg(MBR_ENTRY_TABLE_OFFSET);
    if (image.read(reinterpret_cast<char*>(entry), sizeof entry))
        partitionStart_ = loadLe32(entry + MBR_ENTRY_FIRST_SECTOR);
    if (partitionStart_ == 0) {
        err_ << "The boot partition of " << imageName_ << " cannot be found." << std::endl;
        return false;
    }
    return true;
}

bool ImageDeployer::openVolume() {
    // Made and registered as one step: an interrupt in between would leave it.
    stagingCleanup_ = makeInterruptPath([this] {
        staging_ = std::make_unique<QTemporaryDir>();
        return staging_->isValid() ? staging_->path().toStdString() : std::string();
    });
    if (!stagingCleanup_) {
        err_ << "No temporary folder for the boot files could be made." << std::endl;
        return false;
    }
    return true;
}

bool ImageDeployer::copyBootFolder() {
    const QString staged = bootFolderDestination(staging_->path() + QStringLiteral("/"));
    std::vector<fs::path> leftOut;
    for (const std::string& path : runFiles_) leftOut.push_back(absolute(path));
    if (!stagePayload(sources().bootFolder.toStdString(), staged.toStdString(), leftOut)) {
        waitIfInterrupted();  // the staging folder went with an interrupt, not the boot folder
        err_ << "The boot folder " << sources().bootFolder.toStdString() << " could not be copied." << std::endl;
        return false;
    }
    bootFolderCopied_ = mcopy({QStringLiteral("-s"), staged, QStringLiteral("::/")},
                              "the boot folder");
    return bootFolderCopied_;
}

bool ImageDeployer::copyFirmware() {
    if (!bootFolderCopied_) return false;
    const QString staged = staging_->path() + QStringLiteral("/bzImage");
    if (!copyDirectory(sources().firmware, staged, pacer())) {
        waitIfInterrupted();
        err_ << "The firmware " << sources().firmware.toStdString() << " could not be copied."
             << std::endl;
        return false;
    }
    // -o: the firmware replaces a bzImage that came with the boot folder.
    return mcopy({QStringLiteral("-o"), staged, QStringLiteral("::/boot/bzImage")}, "the firmware");
}

bool ImageDeployer::closeVolume() {
    stagingCleanup_.reset();
    staging_.reset();
    return true;  // mcopy has written its files into the image when it ends
}

bool ImageDeployer::mcopy(const QStringList& arguments, const std::string& what) {
    // IMG@@OFFSET: the volume starts at that byte of the image.
    const QString image = QString::fromStdString(imagePath_) + QStringLiteral("@@") +
                          QString::number(quint64(partitionStart_) * SECTOR_BYTES);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The volume's geometry fields are ours, not a floppy's: skip mtools' sanity check.
    environment.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    // The staged names are UTF-8 (the copier writes them so), whatever the
    // caller's locale: mcopy reads them as such to write their long names.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromLatin1(MCOPY),
                  QStringList{QStringLiteral("-Q"), QStringLiteral("-i"), image} + arguments);
    const InterruptChild stopOnInterrupt(process.processId());
    process.waitForFinished(NO_TIME_LIMIT);
    const bool started = process.error() != QProcess::FailedToStart;
    if (started && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    waitIfInterrupted();  // mcopy was stopped by the interrupt, which ends the run
    // mcopy asks its questions (a name clash, a name it cannot store) on the
    // terminal only; without one it ends with no word at all.
    std::string reason = process.readAll().trimmed().toStdString();
    if (!started)
        reason = "it could not be started (" + process.errorString().toStdString() + ")";
    else if (reason.empty())
        reason = process.exitStatus() == QProcess::NormalExit
                     ? "it ended with status " + std::to_string(process.exitCode()) +
                           " and gave no reason"
                     : "it crashed";
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    err_ << "mcopy could not write " << what << " into " << imageName_ << ": " << reason << "."
         << std::endl;
    return false;
}
