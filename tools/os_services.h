#pragma once
// What t6-card needs of the OS beyond the platform layer: putting a finished
// file in place without replacing anything, and stopping a child process
// (interrupts: platform/interrupts.h).
// One implementation per OS (os_services_posix.cpp, os_services_win32.cpp).

#include <cstdint>
#include <string>

// The folder that holds the running program; empty when the OS does not say.
std::string programFolder();
// The running program itself, to start it again for one card of several.
std::string programFile();

// Passes an interrupt (its exit status, 128 + the signal number) on to the
// child process `pid`, which then stops as it would on its own. On Windows
// the console's events already reach every process attached to it.
void interruptProcess(int64_t pid, int exitStatus);

// Standard output is a terminal that lines can be rewritten on in place.
bool outputIsTerminal();
// Its width in characters; 80 where it does not say.
int terminalColumns();

// Renames `from` to `to` in one step, failing when `to` exists; `reason`
// receives the OS's words on failure.
bool renameNoReplace(const std::string& from, const std::string& to, std::string& reason);

// Ends the process `pid` at once. Safe to call from the interrupt thread.
void stopProcess(int64_t pid);
