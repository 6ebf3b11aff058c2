#pragma once
// The message for a card volume that refused its lock.

#include <string>

// One sentence naming where the user finds the volume under `letter` (its
// mount point, or its letter where volumes have letters) and saying that it
// is busy.
std::string busyVolumeSentence(char letter);
