#include "main/run_input_guard.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RunInputGuard::RunInputGuard(QWidget* window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
}

RunInputGuard::~RunInputGuard() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool RunInputGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        ++dropped_;
        return true;
    case QEvent::Close:
        // The window's own close button cancels as well.
        if (watched != window_) return false;
        event->ignore();
        ++dropped_;
        return true;
    default:
        return false;
    }
}
