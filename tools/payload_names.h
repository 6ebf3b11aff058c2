#pragma once
// Names of the boot files that a FAT volume cannot hold as they are. mcopy
// meets such a name with a question on the terminal and, where there is none,
// ends without a word; asked first, the run can say which name it is.

#include <string>

// Walks `folder` (the files as they go onto the card) and gives false with a
// sentence in `reason` for the first name that holds a control character or
// one of " * / : < > ? \ |, or that differs from another name of its folder
// only in case (FAT keeps one of the two). Paths in `reason` are relative to
// `folder`.
bool payloadNamesFitFat(const std::string& folder, std::string& reason);
