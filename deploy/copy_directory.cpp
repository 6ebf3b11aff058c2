#include "deploy/copy_directory.h"

#include "disk/card_requests.h"
#include "util/debug.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::string utf8(const QString& path) {
    return path.toUtf8().toStdString();
}

// The toolkit opens a file by its name as the OS holds it (the locale's
// encoding on POSIX, wide characters on Windows), so no character is lost on
// the way to the runtime.
// Each step on the card is one request of the run (see CardRequest).
bool copyFile(const QString& source, const QString& destination, const CopyPacer& pacer) {
    QFile in(source);
    QFile out(destination);
    // The destination is created only once the source is open: a source that
    // cannot be read leaves nothing behind.
    if (const CardRequest opening;
        !in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        debugPrint("Copy failed: unable to open file\n");
        return false;
    }

    char buffer[COPY_BUFFER_BYTES];
    for (;;) {
        // Held across the display's keep-alive too: an interrupt waits for
        // at most that moment.
        const CardRequest writing;
        const qint64 got = in.read(buffer, sizeof buffer);
        // A read error must not pass for the end of the file: the copy would
        // be cut short without anyone noticing.
        if (got < 0) {
            debugPrint("Copy failed: error reading source file\n");
            return false;
        }
        if (got == 0) break;
        if (out.write(buffer, got) != got) {
            debugPrint("Copy failed: short write to destination file\n");
            return false;
        }
        if (pacer) pacer();
    }

    // Buffered bytes reach the destination only here; a full volume shows up
    // as a failing flush.
    const CardRequest closing;
    if (!out.flush()) {
        debugPrint("Copy failed: unable to close destination file\n");
        return false;
    }
    out.close();
    return true;
}

// Every name of the folder, hidden and system entries included, "." and ".."
// left out. An unreadable folder would list as empty and a name the toolkit
// cannot decode would be left out, so the entries are counted a second time
// below the toolkit and any difference is a failure.
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
    names = QDir(source).entryList(QDir::Dirs | QDir::Files | QDir::System | QDir::Hidden |
                                       QDir::NoDotAndDotDot,
                                   QDir::NoSort);
    if (static_cast<std::size_t>(names.size()) != entries) {
        debugPrint("Copy failed: a name in %s cannot be converted\n", utf8(source).c_str());
        return false;
    }
    return true;
}

// The entry is a plain file or folder; otherwise one debug line.
bool plainEntry(const QString& path, const QFileInfo& info) {
    // A link is never followed, since it may lead out of the payload or back
    // into it. A Windows shortcut is a file like any other.
    if (info.isSymbolicLink() || info.isJunction()) {
        debugPrint("Copy failed: %s is a symbolic link\n", utf8(path).c_str());
        return false;
    }
    // The toolkit reports what a shortcut leads to; the shortcut itself is
    // the file that is copied, wherever it leads.
    if (info.isShortcut()) return true;
    if (!info.exists()) {
        debugPrint("Copy failed: source does not exist\n");
        return false;
    }
    if (!info.isFile() && !info.isDir()) {
        debugPrint("Copy failed: %s is not a file or folder\n", utf8(path).c_str());
        return false;
    }
    return true;
}

}  // namespace

bool copyDirectory(const QString& source, const QString& destination, const CopyPacer& pacer) {
    const QFileInfo info(source);
    if (!plainEntry(source, info)) return false;
    if (info.isFile() || info.isShortcut()) return copyFile(source, destination, pacer);

    QStringList names;
    if (!listFolder(source, names)) return false;
    QDir folder(source);
    // A relative destination means the same place for the folder as for the
    // files inside it: below the working directory, not below the source.
    if (const CardRequest making; !folder.mkdir(QDir::current().absoluteFilePath(destination))) {
        debugPrint("Copy failed: unable to create directory\n");
        return false;
    }
    for (const QString& name : names) {
        if (name.at(0) == QLatin1Char('.')) continue;
        const QString from = source + QDir::separator() + name;
        const QFileInfo entry(from);
        // A hidden entry is not copied, but a link or special file among the
        // sources is still a payload that is not what it seems.
        if (!plainEntry(from, entry)) return false;
        if (entry.isHidden()) continue;
        if (!copyDirectory(from, destination + QDir::separator() + name, pacer)) return false;
    }
    return true;
}
