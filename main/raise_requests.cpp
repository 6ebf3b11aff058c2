#include "main/raise_requests.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

void bringToFront(QWidget* window) {
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

bool listenForRaiseRequests(QWidget* window, const QString& address) {
    auto* server = new QLocalServer(window);
    if (!server->listen(address)) {
        delete server;
        return false;
    }
    QObject::connect(server, &QLocalServer::newConnection, window, [server, window]() {
        while (QLocalSocket* connection = server->nextPendingConnection()) {
            // The connection is the request; whatever it carries is not needed.
            connection->close();
            connection->deleteLater();
            bringToFront(window);
        }
    });
    return true;
}
