#pragma once
// What a test can see of the single-instance guard from outside the program,
// which differs by OS: where windows are found by their title, a running
// wizard is reachable once its window is up; elsewhere once it listens at its
// address in the runtime folder.

#include <QString>

// True when a later start would reach the running wizard titled `title`.
bool wizardReachable(const QString& runtimeDir, const QString& title);

// What a wizard that was killed leaves behind of its guard; empty where the
// OS takes the guard away with the process.
QString guardLeftover(const QString& runtimeDir);
