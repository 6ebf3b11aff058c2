#include "deploy/payload_sources.h"

#include "deploy/boot_files.h"
#include "deploy/boot_volume.h"
#include "platform/state_folder.h"
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

// The program's data folder name on platforms that install it apart.
constexpr char DATA_FOLDER_NAME[] = "zel-recovery-wizard";

QString located(const QString& path, const QStringList& folders) {
    if (QFileInfo(path).isAbsolute() || QFileInfo::exists(path)) return path;
    for (const QString& folder : folders) {
        if (folder.isEmpty()) continue;
        const QString inFolder = QDir(folder).absoluteFilePath(path);
        if (QFileInfo::exists(inFolder)) return inFolder;
    }
    return path;
}

// "a, b and c": the folders a relative source was looked for in.
std::string lookedIn(const PayloadSources& sources, const QString& path) {
    if (QFileInfo(path).isAbsolute()) return std::string();
    QStringList places{QDir::currentPath()};
    for (const QString& folder : sources.folders)
        if (!folder.isEmpty() && !places.contains(QDir(folder).absolutePath()))
            places << QDir(folder).absolutePath();
    std::string text = " in ";
    for (int i = 0; i < places.size(); ++i) {
        if (i > 0) text += i + 1 == places.size() ? " or " : ", ";
        text += QDir::toNativeSeparators(places[i]).toUtf8().toStdString();
    }
    return text;
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

std::vector<PayloadFolder> wizardPayloadFolders(const QString& programFolder) {
    std::vector<PayloadFolder> folders = {
        {QStringLiteral("the working folder"), QDir::currentPath()},
        {QStringLiteral("the program's folder"), programFolder},
    };
    for (const platform::DataFolder& data : platform::installedDataFolders(DATA_FOLDER_NAME))
        folders.push_back({QString::fromStdString(data.described),
                           QString::fromStdString(data.path.u8string())});
    return folders;
}

PayloadSources wizardSources(const QString& programFolder) {
    QStringList folders;
    // The working folder is searched first by locateSources itself.
    for (const PayloadFolder& folder : wizardPayloadFolders(programFolder)) folders << folder.path;
    folders.removeFirst();
    return {QString::fromLatin1(BOOT_FOLDER_SOURCE), QString::fromLatin1(FIRMWARE_SOURCE), folders};
}

void locateSources(PayloadSources& sources) {
    sources.bootFolder = located(sources.bootFolder, sources.folders);
    sources.firmware = located(sources.firmware, sources.folders);
}

bool checkSources(const PayloadSources& sources) {
    const QFileInfo boot(sources.bootFolder);
    if (!boot.isDir() || boot.isSymbolicLink()) {
        debugPrint("Boot folder %s not found%s\n", utf8(sources.bootFolder).c_str(),
                   lookedIn(sources, sources.bootFolder).c_str());
        return false;
    }
    const QFileInfo firmware(sources.firmware);
    QFile file(sources.firmware);
    if (!firmware.isFile() || firmware.isSymbolicLink() || !file.open(QIODevice::ReadOnly)) {
        if (firmware.exists())
            debugPrint("Firmware %s is not a readable file\n", utf8(sources.firmware).c_str());
        else
            debugPrint("Firmware %s not found%s\n", utf8(sources.firmware).c_str(),
                       lookedIn(sources, sources.firmware).c_str());
        return false;
    }
    if (file.size() == 0) {
        debugPrint("Firmware %s is empty\n", utf8(sources.firmware).c_str());
        return false;
    }
    std::string reason;
    if (!payloadHoldsBootFiles(sources, reason)) {
        debugPrint("%s\n", reason.c_str());
        return false;
    }
    return true;
}

bool payloadHoldsBootFiles(const PayloadSources& sources, std::string& reason) {
    for (const char* required : REQUIRED_BOOT_FILES) {
        const QString onCard = QString::fromLatin1(required);
        const bool firmware = onCard == QLatin1String(CARD_FIRMWARE_PATH);
        const QString inFolder = onCard.mid(int(sizeof CARD_BOOT_FOLDER_PATH) - 1);
        const QString source =
            firmware ? sources.firmware : QDir(sources.bootFolder).filePath(inFolder);
        const QFileInfo info(source);
        if (info.isFile() && info.size() > 0) continue;
        if (firmware)
            reason = "The firmware file " + utf8(info.absoluteFilePath()) +
                     " is empty; the card would not boot.";
        else
            reason = "The boot folder " + utf8(QFileInfo(sources.bootFolder).absoluteFilePath()) +
                     " holds no " + inFolder.toStdString() + " with content; the card would not boot.";
        return false;
    }
    return true;
}

uint64_t payloadClusters(const PayloadSources& sources, uint32_t clusterBytes) {
    return folderClusters(sources.bootFolder, clusterBytes, QFileInfo(sources.firmware).size(),
                          sources.leftOut);
}
