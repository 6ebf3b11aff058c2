#pragma once
// Turns one primary partition of the disk into an empty FAT16 or FAT32 volume.

#include "fat/progress_receiver.h"
#include "platform/platform.h"

#include <cstdint>

// handle, diskSectors, heads and sectorsPerTrack are the values openPhysicalDrive
// delivered (diskSectors is carried along but not used). partitionIndex picks
// one of the four MBR entries; fatType is 0 (by size), 16 or 32; clusterBytes
// is 0 (by size) or the cluster size in bytes; at most 11 characters of
// `label` are used; `progress` may be null.
//
// Reads the entry from sector 0, chooses the geometry, stores the type byte
// (0x06 or 0x0B) in the entry, rewrites sector 0 and writes the volume's
// metadata, reading back each after writing it. Refused requests, failed
// transfers and sectors that read back different write one debug line and
// give false; a refusal or a failed read of sector 0 writes nothing.
bool formatPartition(platform::Handle handle, uint32_t diskSectors, uint32_t heads,
                     uint32_t sectorsPerTrack, uint32_t partitionIndex, int32_t fatType,
                     uint32_t clusterBytes, const char* label, ProgressReceiver* progress);
