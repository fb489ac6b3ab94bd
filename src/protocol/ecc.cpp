// ECC over 256 bytes and the block-address word.
#include "protocol/ecc.h"

#include <bit>
#include <cstring>

namespace orvik::protocol {
namespace {

constexpr int kWordCount = 256 / 8;

uint64_t LoadLittleEndian64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
    word = swapped;
  }
  return word;
}

// Parity of all bits of a word: the parity of the bytes it holds.
uint32_t Parity(uint64_t x) { return static_cast<uint32_t>(std::popcount(x) & 1); }

}  // namespace

// The 256 bytes are read as 32 little-endian 64-bit words: byte index
// i = 8 x word + lane, so index bits 0..2 select the lane and bits 3..7 the
// word.  The parity of a set of bytes is the parity of the XOR of the words
// holding them, so one XOR per word gives everything:
// - the words are folded pairwise five times (32 -> 16 -> ... -> 1); at fold
//   level k the XOR of the odd-numbered words is the combined word of every
//   byte whose index bit k+3 is set;
// - the last fold is the XOR of all words; its lanes give the line parities of
//   index bits 0..2, and its bytes folded together give the column parities.
// Each even line parity is the odd one XOR the parity of all 256 bytes.
void ComputeEcc256(const uint8_t* data, uint8_t* out3) {
  uint64_t words[kWordCount];
  for (int j = 0; j < kWordCount; ++j) words[j] = LoadLittleEndian64(data + 8 * j);

  uint64_t indexBitSet[5];  // bytes whose index bit (3 + level) is 1
  int count = kWordCount;
  for (int level = 0; level < 5; ++level) {
    uint64_t odd = 0;
    for (int m = 0; m < count / 2; ++m) {
      odd ^= words[2 * m + 1];
      words[m] = words[2 * m] ^ words[2 * m + 1];
    }
    indexBitSet[level] = odd;
    count /= 2;
  }
  const uint64_t all = words[0];
  const uint32_t allParity = Parity(all);

  uint32_t lineParities = 0;  // bit n = LP(n)
  // Index bits 0..2: the lanes of the XOR of all words.
  constexpr uint64_t kLaneBitSet[3] = {0xFF00FF00FF00FF00ULL, 0xFFFF0000FFFF0000ULL,
                                       0xFFFFFFFF00000000ULL};
  for (int k = 0; k < 3; ++k) {
    uint32_t odd = Parity(all & kLaneBitSet[k]);
    lineParities |= ((odd ^ allParity) << (2 * k)) | (odd << (2 * k + 1));
  }
  for (int k = 3; k < 8; ++k) {
    uint32_t odd = Parity(indexBitSet[k - 3]);
    lineParities |= ((odd ^ allParity) << (2 * k)) | (odd << (2 * k + 1));
  }

  uint64_t folded = all ^ (all >> 32);
  folded ^= folded >> 16;
  folded ^= folded >> 8;
  const uint32_t x = static_cast<uint32_t>(folded & 0xFF);  // XOR of all bytes
  auto columnParity = [x](uint32_t mask) {
    return static_cast<uint32_t>(std::popcount(x & mask) & 1);
  };
  const uint32_t columnParities = columnParity(0x55) | columnParity(0xAA) << 1 |
                                  columnParity(0x33) << 2 | columnParity(0xCC) << 3 |
                                  columnParity(0x0F) << 4 | columnParity(0xF0) << 5;

  out3[0] = static_cast<uint8_t>(~lineParities & 0xFF);
  out3[1] = static_cast<uint8_t>(~(lineParities >> 8) & 0xFF);
  out3[2] = static_cast<uint8_t>(~(columnParities << 2) & 0xFF);
}

uint16_t EncodeBlockAddress(uint32_t logicalBlock) {
  const uint32_t n = logicalBlock & 0x3FF;
  const uint32_t evenParityBit = (std::popcount(n) & 1) == 0 ? 1 : 0;
  const uint32_t low = 0x10 | ((n >> 7) & 7);
  const uint32_t high = ((n & 0x7F) << 1) | evenParityBit;
  return static_cast<uint16_t>(high << 8 | low);
}

}  // namespace orvik::protocol
