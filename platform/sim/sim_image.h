#pragma once
// The bytes of a simulated drive: an image file.

#include "platform/sim/sim_volume_table.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {
namespace sim {

uint64_t fileSize(const std::string& path);
// Images pass 2 GiB, past what fseek's long reaches on Windows.
bool seekTo(std::FILE* file, uint64_t position);

// The four entries of the MBR partition table, as stored (bytes 446 to 509).
using TableBytes = std::array<uint8_t, 64>;
TableBytes partitionTableBytes(const std::string& imagePath);
// The used entries of that table (a type and a length), in entry order.
std::vector<Extent> partitionsOf(const TableBytes& table);

}  // namespace sim
}  // namespace platform
