#pragma once
// The whole-volume check of a card: every folder and file reached from the
// root, their cluster chains (loops, shared clusters, chains that leave the
// volume or run into free clusters, sizes that disagree with the chain), the
// FAT copies against each other, and clusters in use that no file owns.
// Time and memory are bounded by the clusters the volume really has.

#include "fat/fat_reader.h"

#include <cstdint>
#include <string>
#include <vector>

// Appends one sentence per fault to `findings`, each starting "Volume N".
void checkFatVolume(FatReader& reader, uint32_t index, std::vector<std::string>& findings);
