#pragma once
// Compares copies with their sources once they are on the card.

#include "deploy/copy_directory.h"

#include <QString>

// True when `destination` holds the same bytes as the file `source`, or, for
// a folder, the same bytes for every file below it whose name does not begin
// with a dot (the copier leaves those behind); `skipName` names a file of the
// top folder not to compare (one a later copy replaces). A missing or
// differing file is one debug line naming it, and false. `pacer` is called
// after each piece compared.
bool copyMatchesSource(const QString& source, const QString& destination,
                       const QString& skipName = QString(), const CopyPacer& pacer = CopyPacer());
