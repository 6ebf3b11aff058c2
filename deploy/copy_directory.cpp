#include "deploy/copy_directory.h"

#include "util/debug.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// Closes whichever of the two streams is open; the caller has already decided
// the outcome, so close results do not matter here.
void closeBoth(std::FILE* in, std::FILE* out) {
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) std::fclose(out);
}

// The path as the file system's own bytes for the C runtime (the bytes the
// folder listing decoded, so any name found there opens); false when a
// character has no form there, since the '?' put in its place could name
// another file.
bool nativePath(const QString& path, QByteArray& bytes) {
    bytes = QFile::encodeName(path);
    return QFile::decodeName(bytes) == path;
}

bool copyFile(const QString& source, const QString& destination) {
    QByteArray sourceBytes, destinationBytes;
    const bool convertible = nativePath(source, sourceBytes) && nativePath(destination, destinationBytes);
    // The destination is created only once the source is open: a source that
    // cannot be read leaves nothing behind.
    std::FILE* in = convertible ? std::fopen(sourceBytes.constData(), "rb") : nullptr;
    std::FILE* out = in != nullptr ? std::fopen(destinationBytes.constData(), "wb") : nullptr;
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

std::string utf8(const QString& path) {
    return path.toUtf8().toStdString();
}

// The folder's names as the toolkit lists them, "." and ".." included. An
// unreadable folder would list as empty and a name the toolkit cannot decode
// would be left out, so the entries are counted a second time below the
// toolkit and any difference is a failure.
bool listFolder(const QString& source, QStringList& names) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::size_t entries = 0;
    for (fs::directory_iterator it(fs::u8path(utf8(source)), error), end; !error && it != end;
         it.increment(error))
        ++entries;
    if (error) {
        debugPrint("Copy failed: unable to list directory %s\n", utf8(source).c_str());
        return false;
    }
    names = QDir(source).entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::Hidden,
                                   QDir::NoSort);
    const auto listed = static_cast<std::size_t>(
        names.size() - names.count(QStringLiteral(".")) - names.count(QStringLiteral("..")));
    if (listed != entries) {
        debugPrint("Copy failed: a name in %s cannot be converted\n", utf8(source).c_str());
        return false;
    }
    return true;
}

}  // namespace

bool copyDirectory(const QString& source, const QString& destination) {
    QFileInfo info(source);
    // The payload is plain files and folders: a link is never followed, since
    // it may lead out of the payload or back into it.
    if (info.isSymLink() || info.isJunction()) {
        debugPrint("Copy failed: %s is a symbolic link\n", utf8(source).c_str());
        return false;
    }
    if (!info.exists()) {
        debugPrint("Copy failed: source does not exist\n");
        return false;
    }
    if (info.isFile()) return copyFile(source, destination);
    if (!info.isDir()) {
        debugPrint("Copy failed: %s is not a file or folder\n", utf8(source).c_str());
        return false;
    }

    QStringList names;
    if (!listFolder(source, names)) return false;
    QDir folder(source);
    // A relative destination means the same place for the folder as for the
    // files inside it: below the working directory, not below the source.
    if (!folder.mkdir(QDir::current().absoluteFilePath(destination))) {
        debugPrint("Copy failed: unable to create directory\n");
        return false;
    }
    for (const QString& name : names) {
        if (name.at(0) == QLatin1Char('.')) continue;
        if (!copyDirectory(source + QDir::separator() + name, destination + QDir::separator() + name))
            return false;
    }
    return true;
}
