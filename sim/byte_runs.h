// Whether a run of bytes holds one value throughout: erased flash reads
// 0xFF, a card block never written 0x00.  The simulated player asks it of
// every block it loads from its folder and of every page it stores or
// exports, so it must be cheap in unoptimised and sanitized builds too:
// comparing the run with itself shifted by one byte hands the work to the
// C library's memcmp instead of a loop that visits each byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvik::sim {

inline bool AllBytesAre(const uint8_t* data, size_t length, uint8_t value) {
  return length == 0 || (data[0] == value && std::memcmp(data, data + 1, length - 1) == 0);
}

}  // namespace orvik::sim
