#include "tools/boot_files_copy.h"

#include "deploy/boot_volume.h"
#include "deploy/copy_directory.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

constexpr char MCOPY[] = "mcopy";
constexpr int MCOPY_TIMEOUT_MS = 300000;

}  // namespace

bool haveMcopy() {
    return !QStandardPaths::findExecutable(MCOPY).isEmpty();
}

bool copyBootFilesIntoImage(const std::string& imagePath, uint32_t partitionStart,
                            const std::string& bootFolder, const std::string& firmware,
                            std::ostream& err) {
    QTemporaryDir staging;
    if (!staging.isValid()) {
        err << "No temporary folder for the boot files could be made." << std::endl;
        return false;
    }
    const QString root = staging.path() + QStringLiteral("/");
    if (!copyDirectory(QString::fromStdString(bootFolder), bootFolderDestination(root))) {
        err << "The boot folder " << bootFolder << " could not be copied." << std::endl;
        return false;
    }
    if (!copyDirectory(QString::fromStdString(firmware), firmwareDestination(root))) {
        err << "The firmware " << firmware << " could not be copied." << std::endl;
        return false;
    }

    // IMG@@OFFSET: the volume starts at that byte of the image.
    const QString image = QString::fromStdString(imagePath) + QStringLiteral("@@") +
                          QString::number(quint64(partitionStart) * 512);
    QProcess mcopy;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The volume's geometry fields are ours, not a floppy's: skip mtools' sanity check.
    environment.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    mcopy.setProcessEnvironment(environment);
    mcopy.setProcessChannelMode(QProcess::MergedChannels);
    mcopy.start(QString::fromLatin1(MCOPY),
                {QStringLiteral("-s"), QStringLiteral("-Q"), QStringLiteral("-i"), image,
                 bootFolderDestination(root), QStringLiteral("::/")});
    if (!mcopy.waitForFinished(MCOPY_TIMEOUT_MS) || mcopy.exitStatus() != QProcess::NormalExit ||
        mcopy.exitCode() != 0) {
        err << "mcopy could not write the boot files into " << imagePath << ": "
            << mcopy.readAll().trimmed().toStdString() << std::endl;
        return false;
    }
    return true;
}
