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

#include <fstream>
#include <utility>

namespace {

constexpr char MCOPY[] = "mcopy";
constexpr int MCOPY_TIMEOUT_MS = 300000;

}  // namespace

bool haveMcopy() {
    return !QStandardPaths::findExecutable(MCOPY).isEmpty();
}

ImageDeployer::ImageDeployer(std::string imagePath, PayloadSources sources, std::ostream& err)
    : FileDeployer(std::move(sources)), imagePath_(std::move(imagePath)), err_(err) {}

ImageDeployer::~ImageDeployer() = default;

bool ImageDeployer::findVolume(int) {
    std::ifstream image(imagePath_, std::ios::binary);
    uint8_t entry[MBR_ENTRY_BYTES] = {};
    image.seekg(MBR_ENTRY_TABLE_OFFSET);
    if (image.read(reinterpret_cast<char*>(entry), sizeof entry))
        partitionStart_ = loadLe32(entry + MBR_ENTRY_FIRST_SECTOR);
    if (partitionStart_ == 0) {
        err_ << "The boot partition of " << imagePath_ << " cannot be found." << std::endl;
        return false;
    }
    return true;
}

bool ImageDeployer::openVolume() {
    staging_ = std::make_unique<QTemporaryDir>();
    if (!staging_->isValid()) {
        err_ << "No temporary folder for the boot files could be made." << std::endl;
        return false;
    }
    stagingCleanup_ = std::make_unique<InterruptPath>(staging_->path().toStdString());
    return true;
}

bool ImageDeployer::copyBootFolder() {
    const QString root = staging_->path() + QStringLiteral("/");
    if (!copyDirectory(sources().bootFolder, bootFolderDestination(root), pacer())) {
        err_ << "The boot folder " << sources().bootFolder.toStdString() << " could not be copied."
             << std::endl;
        return false;
    }
    return mcopy({QStringLiteral("-s"), bootFolderDestination(root), QStringLiteral("::/")},
                 "the boot folder");
}

bool ImageDeployer::copyFirmware() {
    const QString staged = staging_->path() + QStringLiteral("/bzImage");
    if (!copyDirectory(sources().firmware, staged, pacer())) {
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
    if (!process.waitForFinished(MCOPY_TIMEOUT_MS) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        err_ << "mcopy could not write " << what << " into " << imagePath_ << ": "
             << process.readAll().trimmed().toStdString() << std::endl;
        return false;
    }
    return true;
}
