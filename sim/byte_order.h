// Little-endian fields: frame words, reply words, the driver's records, the
// socket headers and the partition table of an exported volume.
#pragma once

#include <cstdint>

namespace orvik::sim {

// The value of count bytes (1 to 8) from at, lowest byte first.
inline uint64_t GetLittleEndian(const uint8_t* at, uint32_t count) {
  uint64_t value = 0;
  for (uint32_t i = count; i-- > 0;) value = value << 8 | at[i];
  return value;
}

inline uint32_t GetLittleEndian32(const uint8_t* at) {
  return static_cast<uint32_t>(GetLittleEndian(at, 4));
}

// Stores the low count bytes (1 to 8) of value at at, lowest byte first.
inline void PutLittleEndian(uint8_t* at, uint32_t count, uint64_t value) {
  for (uint32_t i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace orvik::sim
