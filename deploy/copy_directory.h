#pragma once
// Copies one file, or one folder with everything below it, to a new place.

#include <QString>

// Bytes moved per read and write of a file copy.
constexpr int COPY_BUFFER_BYTES = 8096;

// A file source is copied byte for byte to `destination` (created or
// truncated). A folder source becomes a new folder `destination` (its parent
// must exist; an existing folder is a failure) holding copies of every entry
// whose name does not begin with a dot. Whatever cannot be copied faithfully
// is a failure: a symbolic link (never followed), a special file, a folder
// that cannot be listed, a name that cannot be converted. Stops at the first
// failure, which is written as one debug line; what was copied before it
// stays. Paths reach the C runtime in the file system's encoding.
bool copyDirectory(const QString& source, const QString& destination);
