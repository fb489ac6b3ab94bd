// The page ECC computed the slow way, one bit at a time, straight from its
// definition.  It is the reference the fast code is held to (tests and the
// ECC benchmark).
#pragma once

#include <cstdint>

namespace orvik::testing {

inline void BitwiseEcc256(const uint8_t* data, uint8_t* out3) {
  uint32_t lp[16] = {};
  uint32_t columnBits[8] = {};  // bit n of the XOR of all bytes
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t byteParity = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) {
      uint32_t b = (data[i] >> bit) & 1;
      byteParity ^= b;
      columnBits[bit] ^= b;
    }
    for (uint32_t k = 0; k < 8; ++k) {
      if ((i >> k) & 1) {
        lp[2 * k + 1] ^= byteParity;
      } else {
        lp[2 * k] ^= byteParity;
      }
    }
  }
  const uint32_t* x = columnBits;
  uint32_t cp[6] = {x[0] ^ x[2] ^ x[4] ^ x[6], x[1] ^ x[3] ^ x[5] ^ x[7],
                    x[0] ^ x[1] ^ x[4] ^ x[5], x[2] ^ x[3] ^ x[6] ^ x[7],
                    x[0] ^ x[1] ^ x[2] ^ x[3], x[4] ^ x[5] ^ x[6] ^ x[7]};
  uint32_t b0 = 0, b1 = 0, b2 = 0;
  for (uint32_t n = 0; n < 8; ++n) {
    b0 |= lp[n] << n;
    b1 |= lp[8 + n] << n;
  }
  for (uint32_t n = 0; n < 6; ++n) b2 |= cp[n] << (n + 2);
  out3[0] = static_cast<uint8_t>(~b0);
  out3[1] = static_cast<uint8_t>(~b1);
  out3[2] = static_cast<uint8_t>(~b2);
}

}  // namespace orvik::testing
