#pragma once
// Whether a card keeps data at the sectors it reports. A counterfeit card
// claims more sectors than it holds: writes past its real size are dropped, or
// land on lower sectors (the address wraps around), and a format would look
// fine until the data partition fills.

#include "platform/platform.h"

#include <cstdint>

// Writes distinct marker sectors at the middle and the last sector of the
// card, then reads back the markers and the sectors a wrapped address would
// reach (every power-of-two wrap size, and the first 1 MiB), which must still
// hold what they held before. Afterwards every sector touched holds its old
// bytes again: the markers are put back in reverse order, which also undoes
// writes that landed on other sectors of a wrapping card.
//
// False, with the debug line "Card reports %u sectors but does not keep data
// written at sector %u", when a sector comes back wrong; false with the
// transfer's own line when a read or write fails.
bool probeCapacity(platform::Handle handle, uint32_t diskSectors);
