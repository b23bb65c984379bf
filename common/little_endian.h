// The little-endian byte forms of samples, WAV header fields and run-log entries, written and read
// byte by byte so that the host's own byte order never matters. Pure functions; any thread.
#pragma once

#include <cstdint>

namespace common {

// The signed 16-bit sample whose two bytes, low byte first, start at `bytes`.
inline int16_t DecodeLe16Sample(const uint8_t* bytes) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

inline void EncodeLe16(uint16_t value, uint8_t* bytes) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline uint32_t DecodeLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
           (uint32_t{bytes[3]} << 24);
}

inline void EncodeLe32(uint32_t value, uint8_t* bytes) {
    EncodeLe16(static_cast<uint16_t>(value), bytes);
    EncodeLe16(static_cast<uint16_t>(value >> 16), bytes + 2);
}

}  // namespace common
