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

void distinguishLookAlikes(QStringList& rows, const std::vector<int>& numbers) {
    const QStringList plain = rows;
    for (int row = 0; row < plain.size(); ++row)
        if (plain.count(plain[row]) > 1)
            rows[row] = plain[row] + " - " +
                        QString::fromStdString(platform::os().driveIdentity(numbers.at(row)));
}

QString driveRowText(const QString& vendor, const QString& product, int64_t diskSize) {
    const DriveCapacity capacity = driveCapacity(diskSize);
    return translated("%1 %2 %3 %4")
        .arg(vendor)
        .arg(product)
        .arg(capacity.whole)
        .arg(translated(capacity.unit));
}
