// Line parity LP(2k+1) is the parity of the bytes whose index has bit k set,
// LP(2k) that of the bytes whose index has it clear.  Both follow from two
// sums over the bytes of odd parity: the XOR of their indices gives every
// odd line parity at once, and their count the parity of all bytes, which
// each even line parity completes.
#include "sim/inspect/page_ecc.h"

#include <bit>

namespace orvik::sim::inspect {
namespace {

uint32_t Parity(uint32_t bits) { return static_cast<uint32_t>(std::popcount(bits)) & 1; }

}  // namespace

void ComputeEcc256(const uint8_t* data, uint8_t* code) {
  uint32_t oddIndices = 0;  // XOR of the indices of the bytes with odd parity
  uint32_t allBytes = 0;    // parity of all 2048 bits
  uint32_t column = 0;      // XOR of all bytes: bit n is the parity of bit n
  for (uint32_t i = 0; i < 256; ++i) {
    if (Parity(data[i])) {
      oddIndices ^= i;
      allBytes ^= 1;
    }
    column ^= data[i];
  }
  uint32_t lines = 0;  // bit j: LP(j)
  for (uint32_t k = 0; k < 8; ++k) {
    const uint32_t odd = (oddIndices >> k) & 1;
    lines |= (odd << (2 * k + 1)) | ((odd ^ allBytes) << (2 * k));
  }
  // CP0/CP1: even/odd bit positions; CP2/CP3: pairs; CP4/CP5: nibbles.
  const uint32_t columnMasks[6] = {0x55, 0xAA, 0x33, 0xCC, 0x0F, 0xF0};
  uint32_t columns = 0;
  for (uint32_t n = 0; n < 6; ++n) columns |= Parity(column & columnMasks[n]) << (n + 2);
  code[0] = static_cast<uint8_t>(~lines);
  code[1] = static_cast<uint8_t>(~(lines >> 8));
  code[2] = static_cast<uint8_t>(~columns);
}

}  // namespace orvik::sim::inspect
