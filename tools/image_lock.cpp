#include "tools/image_lock.h"

#include <QFile>
#include <QString>

namespace {

// QLockFile keeps the system's reason to itself: the same file opened (and,
// where this made it, removed again) tells it.
std::string whyNotCreated(const QString& path) {
    QFile probe(path);
    const bool existed = probe.exists();
    if (probe.open(existed ? QIODevice::ReadWrite : QIODevice::ReadWrite | QIODevice::NewOnly)) {
        probe.close();
        if (!existed) probe.remove();
        return "the system gave no reason";
    }
    return probe.errorString().toStdString();
}

}  // namespace

std::string ImageLock::pathFor(const std::string& imagePath) {
    return imagePath + ".lock";
}

bool ImageLock::take(const std::string& imagePath, std::ostream& err) {
    const std::string lockPath = pathFor(imagePath);
    lock_ = std::make_unique<QLockFile>(QString::fromStdString(lockPath));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        heldByAnother_ = lock_->error() == QLockFile::LockFailedError;
        err << (heldByAnother_
                    ? "Another run is writing " + imagePath + " (" + lockPath + " is held); "
                      "it is left alone."
                    : "The lock file " + lockPath + " cannot be created: " +
                          whyNotCreated(QString::fromStdString(lockPath)) + ".")
            << std::endl;
        lock_.reset();
        return false;
    }
    // Unlocked first on an interrupt: the held lock file is open.
    QLockFile* held = lock_.get();
    cleanup_ = std::make_unique<InterruptPath>(lockPath, [held] { held->unlock(); });
    return true;
}
