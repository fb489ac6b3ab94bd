// Reading command frames: sequences of 24-bit little-endian words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::sim {

inline constexpr uint32_t kDirFromDevice = 0x800000;
inline constexpr uint32_t kDirToDevice = 0x400000;
inline constexpr uint32_t kClassDevice = 0;
inline constexpr uint32_t kClassFlash = 1;
inline constexpr uint32_t kClassCard = 2;

class Frame {
 public:
  Frame(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length) {}

  uint32_t Length() const { return length_; }
  uint8_t Byte(uint32_t offset) const { return offset < length_ ? bytes_[offset] : 0; }
  uint32_t Word(uint32_t index) const {
    uint32_t at = index * 3;
    return uint32_t{Byte(at)} | uint32_t{Byte(at + 1)} << 8 | uint32_t{Byte(at + 2)} << 16;
  }
  uint32_t Little32(uint32_t offset) const {
    return uint32_t{Byte(offset)} | uint32_t{Byte(offset + 1)} << 8 |
           uint32_t{Byte(offset + 2)} << 16 | uint32_t{Byte(offset + 3)} << 24;
  }
  uint16_t Little16(uint32_t offset) const {
    return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }
  // Bytes 3 to 8: the 48-bit flash address of flash commands.
  uint64_t Address48() const {
    uint64_t value = 0;
    for (uint32_t i = 8; i >= 3; --i) value = (value << 8) | Byte(i);
    return value;
  }
  bool BytesZero(uint32_t from, uint32_t to) const {  // [from, to)
    for (uint32_t i = from; i < to; ++i)
      if (Byte(i) != 0) return false;
    return true;
  }
  uint32_t CommandWord() const { return Word(0); }
  uint32_t Operation() const { return Word(0) & 0xFF; }
  uint32_t Class() const { return (Word(0) >> 8) & 0xFF; }
  uint32_t Direction() const { return Word(0) & 0xFF0000; }

 private:
  const uint8_t* bytes_;
  uint32_t length_;
};

// Little-endian writers for replies.
inline void PutWord24(std::vector<uint8_t>& out, uint32_t offset, uint32_t value) {
  for (uint32_t i = 0; i < 3; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void PutLittle32(std::vector<uint8_t>& out, uint32_t offset, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string Hex(uint64_t value);

}  // namespace orvik::sim
