#pragma once
// Names of the boot files that a FAT volume cannot hold as they are. mcopy
// meets such a name with a question on the terminal and, where there is none,
// ends without a word; asked first, the run can say which name it is.

#include <cstddef>
#include <string>

// Walks `folder` (the boot folder; names starting with a dot stay behind, as
// in the copy) and gives false with a sentence in `reason` for the first name
// that holds a control character or one of " * / : < > ? \ |, is not UTF-8,
// holds a character beyond U+FFFF, ends with a dot or a space, or differs
// from another name of its folder only in case (FAT keeps one of the two).
// Paths in `reason` are relative to `folder`.
bool payloadNamesFitFat(const std::string& folder, std::string& reason);

// The most names of one folder that share a short-name stem and that mcopy
// still writes within a minute: it numbers each such name past all the names
// of the stem before it (~1, ~2, ...), searching the folder for every number,
// so its time grows far faster than the count (200 names 0.4 s, 400 3.3 s,
// 800 47 s).
constexpr std::size_t MAX_NAMES_PER_STEM = 700;

// Gives false with a sentence in `reason` when a folder below `folder` holds
// more than MAX_NAMES_PER_STEM names that need a long name and begin with the
// same six characters (the stem mcopy numbers their short names from).
bool payloadNamesNumberable(const std::string& folder, std::string& reason);
