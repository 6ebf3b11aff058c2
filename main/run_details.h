#pragma once
// What the error page says of a failed run beyond its fixed text, and what
// "Copy details" hands to the clipboard for a support request.

#include "install/installation.h"
#include "release/run_log.h"

#include <QString>

// "Support log: <path>", or where it could not be written, the path (when
// known) and the reason.
QString logPlaceText(const RunLogPlace& log);

// The cause, the program's version, where the log is, then the run's debug
// lines: one block of plain text.
QString runDetailsText(const RunOutcome& outcome, const RunLogPlace& log);

// The folder "Open log folder" opens: the log's own, or the path itself when
// it names a folder (no file could be made in it); empty when none exists.
QString logFolder(const RunLogPlace& log);
