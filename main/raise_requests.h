#pragma once
// The running wizard's side of the single-instance guard where a later start
// cannot raise the window itself: it connects to a local socket instead.

#include <QString>

class QWidget;

// Restores `window` if minimised, shows it and makes it the active window.
void bringToFront(QWidget* window);

// Listens at `address` (a local socket path); every connection brings
// `window` to the front. The server is a child of `window`. False when the
// address cannot be listened at.
bool listenForRaiseRequests(QWidget* window, const QString& address);
