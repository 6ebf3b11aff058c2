#pragma once
// The support log: every debug line of one run, each with its time, in a file
// that a technician can send in after a failed run. One file per run in a
// folder of the program's own, where the newest runs are kept. Nothing here
// fails a run: a log that cannot be written is just not written, and says
// why. The files are reached only in ways that follow no link
// (platform/log_file.h): root runs write in the user's folder.

#include <filesystem>
#include <string>

constexpr int SUPPORT_LOGS_KEPT = 20;

// <the user's state folder>/<program>; empty when the OS names no state folder.
std::filesystem::path supportLogFolder(const std::string& program);

// How starting a log went, for what the screen says of it.
struct SupportLogStart {
    bool opened = false;
    // The file named is one the log must not be written to (a link, a
    // folder, a pipe, a device): nothing was touched.
    bool refused = false;
    std::filesystem::path file;  // the log's file, or where it would have been
    std::string problem;         // why there is no log (the system's reason)
    std::string notice;          // a log kept by root although a user started the run
};

// Starts the log of this run in a new file of `folder` (made where missing;
// never a link), "<program>-YYYYMMDD-HHMMSS-mmm.log" (UTC), a later name
// taken where one exists; before that the oldest of the program's logs
// there are removed so that `kept` remain with the new one. Nothing but the
// program's own regular files is removed. Every debug line from now on is
// also written to the file, after the line `header`.
SupportLogStart openRunLogIn(const std::filesystem::path& folder, const std::string& program,
                             int kept, const std::string& header);

// The same into a file the user named: a new file, or an existing regular
// file that is emptied; refused when it is anything else.
SupportLogStart openNamedSupportLog(const std::filesystem::path& file, const std::string& header);

// The file of the open log (or the one that could not be written) and why
// it holds not the whole run: empty while every line went in.
std::filesystem::path supportLogFile();
std::string supportLogProblem();

// Puts `header` in place of the first line (what becomes known later, such
// as the chosen drive), keeping every line after it.
void setSupportLogHeader(const std::string& header);

// Writes `text` as lines of the log, time-stamped like the debug lines (what
// the user was told, such as an error sentence). Nothing without an open log.
void writeSupportLog(const std::string& text);

// Stops the copies and closes the file.
void closeSupportLog();

// "2026-12-08 14:03:27.512": the UTC time stamp in front of each line.
std::string supportLogTime();
