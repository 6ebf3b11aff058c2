#pragma once
// The support log: every debug line of one run, each with its time, in a file
// that a technician can send in after a failed run. One file per run in a
// folder of the program's own, where the newest runs are kept. Nothing here
// fails a run: a log that cannot be written is just not written.

#include <filesystem>
#include <string>

constexpr int SUPPORT_LOGS_KEPT = 20;

// <the user's state folder>/<program>; empty when the OS names no state folder.
std::filesystem::path supportLogFolder(const std::string& program);

// Makes `folder` and names a new file in it for this run,
// "<program>-YYYYMMDD-HHMMSS-mmm.log" (UTC), then removes the oldest of the
// program's logs there so that `kept` remain once the new one is written.
// Other files are left alone. Empty when the folder cannot be made.
std::filesystem::path newRunLogFile(const std::filesystem::path& folder,
                                    const std::string& program, int kept);

// From now on every debug line is also written to `file` (created or
// truncated), after the line `header`. Replaces a log opened before. False,
// with nothing else changed, when the file cannot be opened.
bool openSupportLog(const std::filesystem::path& file, const std::string& header);

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
