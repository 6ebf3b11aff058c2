#pragma once
// Little-endian fields of on-disk and device records, whatever the host's byte
// order. Header-only, so every layer down to the backends can use it.

#include <cstdint>

inline uint16_t loadLe16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

inline uint32_t loadLe32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline uint64_t loadLe64(const uint8_t* at) { return loadLe32(at) | uint64_t(loadLe32(at + 4)) << 32; }

inline void storeLe16(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

inline void storeLe32(uint8_t* at, uint32_t value) {
    storeLe16(at, value);
    storeLe16(at + 2, value >> 16);
}

inline void storeLe64(uint8_t* at, uint64_t value) {
    storeLe32(at, uint32_t(value));
    storeLe32(at + 4, uint32_t(value >> 32));
}
