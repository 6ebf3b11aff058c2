#pragma once
// Copies one file, or one folder with everything below it, to a new place.

#include <QString>

#include <functional>

// Bytes moved per read and write of a file copy.
constexpr int COPY_BUFFER_BYTES = 8096;

// Called after each buffer of a file copy, so that a caller can keep its
// display alive during a long copy.
using CopyPacer = std::function<void()>;

// A file source is copied byte for byte to `destination` (created or
// truncated). A folder source becomes a new folder `destination` (its parent
// must exist; an existing folder is a failure) holding copies of its entries:
// neither names that begin with a dot nor entries the OS marks hidden or
// system are copied. Whatever would be copied unfaithfully is a failure, and
// that check covers hidden and system entries too: a symbolic link (never
// followed; a Windows shortcut is an ordinary file), a special file, a folder
// that cannot be listed, a name that cannot be converted. Stops at the first
// failure, which is written as one debug line; what was copied before it
// stays. Files are opened by their names as the OS holds them, whatever the
// characters.
bool copyDirectory(const QString& source, const QString& destination,
                   const CopyPacer& pacer = CopyPacer());
