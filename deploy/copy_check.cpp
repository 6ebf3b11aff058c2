#include "deploy/copy_check.h"

#include "util/debug.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Small enough that a slow card gives each piece back well within the
// display's repaint interval.
constexpr qint64 CHUNK_BYTES = 64 * 1024;

bool sameFile(const QString& source, const QString& destination, const CopyPacer& pacer) {
    QFile original(source);
    QFile copy(destination);
    if (!copy.open(QIODevice::ReadOnly)) {
        debugPrint("Copied file %s is missing\n", destination.toUtf8().constData());
        return false;
    }
    if (!original.open(QIODevice::ReadOnly) || original.size() != copy.size()) {
        debugPrint("Copied file %s differs from its source\n", destination.toUtf8().constData());
        return false;
    }
    while (!original.atEnd()) {
        const QByteArray want = original.read(CHUNK_BYTES);
        if (want.isEmpty() || copy.read(want.size()) != want) {
            debugPrint("Copied file %s differs from its source\n", destination.toUtf8().constData());
            return false;
        }
        if (pacer) pacer();
    }
    return true;
}

}  // namespace

bool copyMatchesSource(const QString& source, const QString& destination, const QString& skipName,
                       const CopyPacer& pacer) {
    const QFileInfo info(source);
    if (info.isFile() || info.isShortcut()) return sameFile(source, destination, pacer);
    if (!QFileInfo(destination).isDir()) {
        debugPrint("Copied file %s is missing\n", destination.toUtf8().constData());
        return false;
    }
    const QStringList names = QDir(source).entryList(QDir::Dirs | QDir::Files | QDir::System, QDir::Name);
    for (const QString& name : names) {
        if (name.startsWith(QLatin1Char('.')) || name == skipName) continue;
        if (!copyMatchesSource(source + QDir::separator() + name,
                               destination + QDir::separator() + name, QString(), pacer))
            return false;
    }
    return true;
}
