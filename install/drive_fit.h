#pragma once
// Whether a drive with media can take the card's layout at all: 512-byte
// sectors, room for both partitions, and no more sectors than the partition
// table's 32-bit sector numbers reach. Asked before anything is written, so
// that such a card is refused with its cause rather than half written.

#include "disk/drive_probe.h"
#include "platform/failure_causes.h"

#include <cstdint>
#include <string>

// Unknown when the drive fits (or its geometry never answered); else
// SectorSize, CardTooLarge or CardTooSmall.
platform::FailureCause driveFitCause(const DriveState& state);

// The smallest drive, in bytes, whose sectors hold both partitions of the
// layout with this geometry.
uint64_t smallestCardBytes(uint32_t heads, uint32_t sectorsPerTrack);

// The sentence of driveFitCause(state) for the drive named `target`; empty
// when it fits.
std::string driveFitSentence(const DriveState& state, const std::string& target);
