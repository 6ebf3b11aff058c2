#include "deploy/copy_directory.h"

#include "util/debug.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

// Closes whichever of the two streams is open; the caller has already decided
// the outcome, so close results do not matter here.
void closeBoth(std::FILE* in, std::FILE* out) {
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) std::fclose(out);
}

bool copyFile(const QString& source, const QString& destination) {
    QByteArray sourceBytes = source.toLatin1();
    QByteArray destinationBytes = destination.toLatin1();
    std::FILE* in = std::fopen(sourceBytes.constData(), "rb");
    std::FILE* out = std::fopen(destinationBytes.constData(), "wb");
    if (in == nullptr || out == nullptr) {
        closeBoth(in, out);
        debugPrint("Copy failed: unable to open file\n");
        return false;
    }

    unsigned char buffer[COPY_BUFFER_BYTES];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        // A read error must not pass for the end of the file: the copy would
        // be cut short without anyone noticing.
        if (std::ferror(in)) {
            closeBoth(in, out);
            debugPrint("Copy failed: error reading source file\n");
            return false;
        }
        if (got == 0) break;
        if (std::fwrite(buffer, 1, got, out) != got) {
            closeBoth(in, out);
            debugPrint("Copy failed: short write to destination file\n");
            return false;
        }
    }

    std::fclose(in);
    // Buffered bytes reach the destination only here; a full volume shows up
    // as a failing close.
    if (std::fclose(out) != 0) {
        debugPrint("Copy failed: unable to close destination file\n");
        return false;
    }
    return true;
}

}  // namespace

bool copyDirectory(const QString& source, const QString& destination) {
    QFileInfo info(source);
    if (!info.exists()) {
        debugPrint("Copy failed: source does not exist\n");
        return false;
    }
    if (info.isFile()) return copyFile(source, destination);

    QDir folder(source);
    // A relative destination means the same place for the folder as for the
    // files inside it: below the working directory, not below the source.
    if (!folder.mkdir(QDir::current().absoluteFilePath(destination))) {
        debugPrint("Copy failed: unable to create directory\n");
        return false;
    }
    const QStringList names = folder.entryList(QDir::Dirs | QDir::Files, QDir::NoSort);
    for (const QString& name : names) {
        if (name.at(0) == QLatin1Char('.')) continue;
        if (!copyDirectory(source + QDir::separator() + name, destination + QDir::separator() + name))
            return false;
    }
    return true;
}
