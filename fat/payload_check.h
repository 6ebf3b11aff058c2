#pragma once
// The payload against the card: the boot folder against \boot and the
// firmware against \boot\bzImage, file by file and byte by byte, with the
// deployment's rule that entries whose name starts with a dot stay behind.

#include "fat/fat_reader.h"

#include <string>
#include <vector>

// What a card's \boot is compared with: the boot folder and the firmware.
struct CardPayload {
    std::string bootFolder;
    std::string firmware;
    // Files inside the boot folder that are not copied (the image itself,
    // its lock): not looked for on the card.
    std::vector<std::string> leftOut = {};
};

// Appends one sentence per difference to `findings`.
void comparePayload(FatReader& reader, const CardPayload& payload, std::vector<std::string>& findings);
