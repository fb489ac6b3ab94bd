// Little-endian fields of frames, records and on-flash structures.
#pragma once

#include <cstdint>

namespace orvik::protocol {

inline void PutLittleEndian16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLittleEndian32(uint8_t* at, uint32_t value) {
  PutLittleEndian16(at, value);
  PutLittleEndian16(at + 2, value >> 16);
}

inline uint16_t GetLittleEndian16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

inline uint32_t GetLittleEndian32(const uint8_t* at) {
  return uint32_t{GetLittleEndian16(at)} | uint32_t{GetLittleEndian16(at + 2)} << 16;
}

}  // namespace orvik::protocol
