#pragma once
// The wizard started without root that could not get it: it says why and how
// to start it instead, and ends. It never runs on without the rights, where
// every drive would only look missing.

#include "platform/elevation.h"

#include <QString>

// Why the rights could not be had, and the command that starts the wizard
// with them.
QString elevationRefusalText(platform::Elevation how);

// Says so on stderr and, where a screen shows it, in a message box titled
// `title`; returns the exit status, 1.
int refuseUnelevatedStart(platform::Elevation how, const QString& title, int argc, char** argv);
