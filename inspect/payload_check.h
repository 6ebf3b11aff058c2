#pragma once
// The payload against the card: the boot folder against \boot and the
// firmware against \boot\bzImage, file by file and byte by byte, with the
// deployment's rule that entries whose name starts with a dot stay behind.

#include "inspect/card_inspection.h"
#include "inspect/fat_reader.h"

#include <string>
#include <vector>

// Appends one sentence per difference to `findings`.
void comparePayload(FatReader& reader, const CardPayload& payload, std::vector<std::string>& findings);
