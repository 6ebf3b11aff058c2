#include "main/drive_discovery.h"

#include <QCoreApplication>

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("ZelRecoveryDriveSelectPage", text);
}

}  // namespace

bool probeDrive(int number, QString* rowText, DriveDescription* description) {
    DriveDescription found;
    if (!probeDrive(number, found)) return false;
    *rowText = driveRowText(QString::fromStdString(found.vendor),
                            QString::fromStdString(found.product), found.diskSize);
    if (description != nullptr) *description = found;
    return true;
}

QString driveRowText(const QString& vendor, const QString& product, int64_t diskSize) {
    const DriveCapacity capacity = driveCapacity(diskSize);
    return translated("%1 %2 %3 %4")
        .arg(vendor)
        .arg(product)
        .arg(capacity.whole)
        .arg(translated(capacity.unit));
}
