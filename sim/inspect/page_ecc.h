// The 3-byte code a SmartMedia reader expects over 256 data bytes (16 line
// parities and 6 column parities, stored inverted), worked out here from its
// definition so that the inspector judges the library's pages by knowledge
// of its own.
#pragma once

#include <cstdint>

namespace orvik::sim::inspect {

void ComputeEcc256(const uint8_t* data, uint8_t* code);

}  // namespace orvik::sim::inspect
