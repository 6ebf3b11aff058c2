#include "platform/sim/sim_image.h"

#include "platform/little_endian.h"

#include <fstream>

namespace platform {
namespace sim {

namespace {
constexpr std::streamoff TABLE_OFFSET = 446;
constexpr size_t ENTRY_BYTES = 16;
constexpr size_t ENTRY_TYPE = 4;
constexpr size_t ENTRY_START = 8;
constexpr size_t ENTRY_SECTORS = 12;
}  // namespace

uint64_t fileSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

bool seekTo(std::FILE* file, uint64_t position) {
#if defined(_WIN32)
    return _fseeki64(file, static_cast<long long>(position), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

TableBytes partitionTableBytes(const std::string& imagePath) {
    TableBytes table{};
    std::ifstream in(imagePath, std::ios::binary);
    in.seekg(TABLE_OFFSET);
    in.read(reinterpret_cast<char*>(table.data()), static_cast<std::streamsize>(table.size()));
    if (!in) table.fill(0);
    return table;
}

std::vector<Extent> partitionsOf(const TableBytes& table) {
    std::vector<Extent> partitions;
    for (size_t at = 0; at < table.size(); at += ENTRY_BYTES) {
        const uint8_t* entry = table.data() + at;
        const uint32_t sectors = loadLe32(entry + ENTRY_SECTORS);
        if (entry[ENTRY_TYPE] == 0 || sectors == 0) continue;
        partitions.push_back(Extent{loadLe32(entry + ENTRY_START), sectors});
    }
    return partitions;
}

}  // namespace sim
}  // namespace platform
