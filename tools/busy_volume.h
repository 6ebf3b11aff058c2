#pragma once
// The messages for a card volume that cannot be taken from the OS.

#include <string>

// One sentence naming where the user finds the volume under `letter` (its
// mount point, or its letter where volumes have letters) and saying that it
// is busy.
std::string busyVolumeSentence(char letter);

// One sentence naming a third volume of the card, which is never held.
std::string thirdVolumeSentence(char letter);

// The sentence for whichever volume kept a run off the card: a refused lock
// first, else a third volume, else one without a letter (both letters '\\0').
std::string leftMountedSentence(char refused, char third);
