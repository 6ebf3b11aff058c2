#include "main/elevation_refusal.h"

#include <QApplication>
#include <QMessageBox>

#include <iostream>

QString elevationRefusalText(platform::Elevation how) {
    QString reason;
    switch (how) {
    case platform::Elevation::NoHelper:
        reason = QApplication::translate("Elevation", "pkexec, which asks for them, is not installed.");
        break;
    case platform::Elevation::NoAgent:
        reason = QApplication::translate(
            "Elevation", "no authentication agent is running to ask for the password.");
        break;
    case platform::Elevation::Dismissed:
        reason = QApplication::translate("Elevation", "the request for the password was dismissed.");
        break;
    default:
        reason = QApplication::translate("Elevation",
                                         "the request was refused (not authorized).");
        break;
    }
    return QApplication::translate("Elevation",
                                   "The wizard needs administrator (root) rights to write to the "
                                   "card, and could not get them: %1\n\n"
                                   "Start it instead from a terminal, in the folder that holds "
                                   "files/boot and firmware/t6-board.fw:\n\n"
                                   "    sudo zel_recovery_wizard")
        .arg(reason);
}

int refuseUnelevatedStart(platform::Elevation how, const QString& title, int argc, char** argv) {
    QApplication application(argc, argv);
    const QString text = elevationRefusalText(how);
    std::cerr << text.toStdString() << std::endl;
    // The offscreen and minimal platforms show nothing anyone could close.
    const QString platformName = QGuiApplication::platformName();
    if (platformName != "offscreen" && platformName != "minimal")
        QMessageBox::critical(nullptr, title, text);
    return 1;
}
