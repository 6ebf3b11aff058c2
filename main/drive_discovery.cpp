#include "main/drive_discovery.h"

#include <QCoreApplication>

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("ZelRecoveryDriveSelectPage", text);
}

}  // namespace

bool probeDrive(int number, QString* rowText) {
    DriveDescription description;
    if (!probeDrive(number, description)) return false;
    *rowText = driveRowText(QString::fromStdString(description.vendor),
                            QString::fromStdString(description.product), description.diskSize);
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
