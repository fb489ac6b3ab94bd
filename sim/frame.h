// Reading command frames: sequences of 24-bit little-endian words.
#pragma once

#include <cstdint>
#include <string>

#include "sim/byte_order.h"

namespace orvik::sim {

// The direction bits of a command word.
inline constexpr uint32_t DIR_FROM_DEVICE = 0x800000;
inline constexpr uint32_t DIR_TO_DEVICE = 0x400000;
inline constexpr uint32_t kClassDevice = 0;
inline constexpr uint32_t kClassFlash = 1;
inline constexpr uint32_t kClassCard = 2;

class Frame {
 public:
  Frame(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length) {}

  uint32_t Length() const { return length_; }
  uint8_t Byte(uint32_t offset) const { return offset < length_ ? bytes_[offset] : 0; }
  uint32_t Word(uint32_t index) const { return static_cast<uint32_t>(Field(index * 3, 3)); }
  uint32_t Little32(uint32_t offset) const { return static_cast<uint32_t>(Field(offset, 4)); }
  uint16_t Little16(uint32_t offset) const { return static_cast<uint16_t>(Field(offset, 2)); }
  // Bytes 3 to 8: the 48-bit flash address of flash commands.
  uint64_t Address48() const { return Field(3, 6); }
  bool BytesZero(uint32_t from, uint32_t to) const {  // [from, to)
    for (uint32_t i = from; i < to; ++i)
      if (Byte(i) != 0) return false;
    return true;
  }
  uint32_t CommandWord() const { return Word(0); }
  // The command word without its direction bits: class and operation.
  uint32_t Command() const { return Word(0) & 0xFFFF; }
  uint32_t Class() const { return (Word(0) >> 8) & 0xFF; }
  uint32_t Direction() const { return Word(0) & 0xFF0000; }

 private:
  // count bytes from offset, little-endian; bytes past the end read as 0.
  uint64_t Field(uint32_t offset, uint32_t count) const {
    uint8_t field[8] = {};
    for (uint32_t i = 0; i < count; ++i) field[i] = Byte(offset + i);
    return GetLittleEndian(field, count);
  }

  const uint8_t* bytes_;
  uint32_t length_;
};

std::string Hex(uint64_t value);

}  // namespace orvik::sim
