// The card information structure a SmartMedia reader expects at byte 0 (and
// again at byte 256) of page 0 of the CIS block: a chain of tuples, each a
// code byte, a link byte (the length of its body) and the body, closed by
// the end tuple and two zero bytes.
#pragma once

#include <array>
#include <cstdint>

namespace orvik::sim::inspect {

inline constexpr uint32_t kCisBytes = 112;

// Tuple codes of the chain.
enum CisTupleCode : uint8_t {
  kTupleDevice = 0x01,             // device type, access time and size
  kTupleNoLink = 0x14,             // no chain to a further structure
  kTupleVersion1 = 0x15,           // version and the maker, product and revision texts
  kTupleJedecCommon = 0x18,        // the JEDEC identifier of the device
  kTupleConfig = 0x1A,             // where the configuration registers lie
  kTupleConfigEntry = 0x1B,        // one configuration the card offers
  kTupleMaker = 0x20,              // maker and card identifiers
  kTupleFunction = 0x21,           // what the card is
  kTupleFunctionExtension = 0x22,  // more about it
  kTupleEnd = 0xFF,                // the end of the chain
};

// The 112 bytes, laid out from the tuples.
const std::array<uint8_t, kCisBytes>& CisBytes();

// True when the data of a page begins with the structure.
bool HoldsCis(const uint8_t* pageData);

}  // namespace orvik::sim::inspect
