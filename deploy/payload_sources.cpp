#include "deploy/payload_sources.h"

#include "deploy/boot_volume.h"
#include "util/debug.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr uint64_t DIRECTORY_ENTRY_BYTES = 32;
// UTF-16 units of a name held by one long-name entry.
constexpr int LONG_NAME_UNITS_PER_ENTRY = 13;
constexpr char FIRMWARE_NAME[] = "bzImage";

QString located(const QString& path, const QString& programFolder) {
    if (QFileInfo(path).isAbsolute() || QFileInfo::exists(path) || programFolder.isEmpty()) return path;
    const QString inProgramFolder = QDir(programFolder).absoluteFilePath(path);
    return QFileInfo::exists(inProgramFolder) ? inProgramFolder : path;
}

std::string utf8(const QString& path) {
    return QDir::toNativeSeparators(path).toUtf8().toStdString();
}

uint64_t clustersFor(uint64_t bytes, uint32_t clusterBytes) {
    return (bytes + clusterBytes - 1) / clusterBytes;
}

// The short entry and, conservatively, long-name entries for the whole name.
uint64_t entriesFor(const QString& name) {
    return 1 + (uint64_t(name.size()) + LONG_NAME_UNITS_PER_ENTRY - 1) / LONG_NAME_UNITS_PER_ENTRY;
}

// The folder's copy and everything below it. `firmwareBytes` >= 0: the
// firmware goes into this folder as bzImage.
uint64_t folderClusters(const QString& folder, uint32_t clusterBytes, qint64 firmwareBytes,
                        const QStringList& leftOut) {
    uint64_t entries = 2;  // "." and ".."
    uint64_t clusters = 0;
    bool firmwareReplaces = false;
    const QFileInfoList listing =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : listing) {
        const QString name = entry.fileName();
        if (name.startsWith(QLatin1Char('.')) || entry.isHidden() ||
            leftOut.contains(entry.canonicalFilePath()))
            continue;
        entries += entriesFor(name);
        // A link is refused by the copier; it is not followed here either.
        if (entry.isSymbolicLink()) continue;
        if (firmwareBytes >= 0 && name.compare(QLatin1String(FIRMWARE_NAME), Qt::CaseInsensitive) == 0) {
            firmwareReplaces = true;
        } else if (entry.isDir() && !entry.isShortcut()) {
            clusters += folderClusters(entry.filePath(), clusterBytes, -1, leftOut);
        } else {
            clusters += clustersFor(uint64_t(entry.size()), clusterBytes);
        }
    }
    if (firmwareBytes >= 0) {
        if (!firmwareReplaces) entries += entriesFor(QLatin1String(FIRMWARE_NAME));
        clusters += clustersFor(uint64_t(firmwareBytes), clusterBytes);
    }
    return clusters + std::max<uint64_t>(1, clustersFor(entries * DIRECTORY_ENTRY_BYTES, clusterBytes));
}

}  // namespace

PayloadSources wizardSources(const QString& programFolder) {
    return {QString::fromLatin1(BOOT_FOLDER_SOURCE), QString::fromLatin1(FIRMWARE_SOURCE),
            programFolder};
}

void locateSources(PayloadSources& sources) {
    sources.bootFolder = located(sources.bootFolder, sources.programFolder);
    sources.firmware = located(sources.firmware, sources.programFolder);
}

bool checkSources(const PayloadSources& sources) {
    const QFileInfo boot(sources.bootFolder);
    if (!boot.isDir() || boot.isSymbolicLink()) {
        debugPrint("Boot folder %s not found\n", utf8(sources.bootFolder).c_str());
        return false;
    }
    const QFileInfo firmware(sources.firmware);
    QFile file(sources.firmware);
    if (!firmware.isFile() || firmware.isSymbolicLink() || !file.open(QIODevice::ReadOnly)) {
        debugPrint("Firmware %s is not a readable file\n", utf8(sources.firmware).c_str());
        return false;
    }
    if (file.size() == 0) {
        debugPrint("Firmware %s is empty\n", utf8(sources.firmware).c_str());
        return false;
    }
    return true;
}

uint64_t payloadClusters(const PayloadSources& sources, uint32_t clusterBytes) {
    return folderClusters(sources.bootFolder, clusterBytes, QFileInfo(sources.firmware).size(),
                          sources.leftOut);
}
