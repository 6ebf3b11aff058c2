#pragma once
// Names of the boot files that a FAT volume cannot hold as they are. mcopy
// meets such a name with a question on the terminal and, where there is none,
// ends without a word; asked first, the run can say which name it is.

#include <string>

// Walks `folder` (the boot folder; names starting with a dot stay behind, as
// in the copy) and gives false with a sentence in `reason` for the first name
// that holds a control character or one of " * / : < > ? \ |, is not UTF-8,
// holds a character beyond U+FFFF, ends with a dot or a space, or differs
// from another name of its folder only in case (FAT keeps one of the two).
// Paths in `reason` are relative to `folder`.
bool payloadNamesFitFat(const std::string& folder, std::string& reason);
