#pragma once
// The support log of a run of the wizard or of t6-card: where it goes and its
// first line, which names the program's version, the OS and the chosen drive.

#include "util/support_log.h"

#include <string>

// What the first line says before a drive is chosen.
extern const char* const NO_DRIVE_CHOSEN;

// "<program> 5.3.0 on <OS> (<kernel>, <CPU>); drive: <drive>; times UTC".
std::string runLogHeader(const std::string& program, const std::string& drive);

// Starts the log of this run: into `file` when one is given, else into a new
// file in the program's log folder, where the newest runs are kept. A log
// that cannot be written leaves the run as it is (one debug line says so
// when the user named the file); a file refused for the log (a link, a
// pipe, a device) is left untouched and reported to the caller.
SupportLogStart startRunLog(const std::string& program, const std::string& file,
                            const std::string& drive);

// Where this run's log went: its full path, and why it could not be written
// there (empty once it was opened). The path is empty where not even its
// folder is known.
struct RunLogPlace {
    std::string path;
    std::string problem;
};
RunLogPlace runLogPlace();

// The chosen drive, once known, goes into the first line.
void setRunLogDrive(const std::string& drive);

// Ends the copies into the log; a log that broke off says so.
void stopRunLog();
