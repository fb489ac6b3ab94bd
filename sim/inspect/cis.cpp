// The tuples of the card information structure, in their order on the flash.
#include "sim/inspect/cis.h"

#include <algorithm>
#include <vector>

namespace orvik::sim::inspect {
namespace {

struct Tuple {
  CisTupleCode code;
  std::vector<uint8_t> body;
};

const std::vector<Tuple>& Tuples() {
  static const std::vector<Tuple> tuples = {
      // A function-specific device of 2 KB with 250 ns access.
      {kTupleDevice, {0xD9, 0x01, 0xFF}},
      {kTupleJedecCommon, {0xDF, 0x01}},
      // No maker and no card identifier.
      {kTupleMaker, {0x00, 0x00, 0x00, 0x00}},
      // A fixed disk, configured at start-up, with an ATA interface.
      {kTupleFunction, {0x04, 0x01}},
      {kTupleFunctionExtension, {0x01, 0x01}},
      {kTupleFunctionExtension, {0x02, 0x04, 0x07}},
      // Configuration registers at 0x200; the last configuration is 3.
      {kTupleConfig, {0x01, 0x03, 0x00, 0x02, 0x0F}},
      // Configuration 0: memory mapped.
      {kTupleConfigEntry, {0xC0, 0xC0, 0xA1, 0x01, 0x55, 0x08, 0x00, 0x20}},
      // Configuration 1: 16 I/O bytes anywhere.
      {kTupleConfigEntry, {0xC1, 0x41, 0x99, 0x01, 0x55, 0x64, 0xF0, 0xFF, 0xFF, 0x20}},
      // Configurations 2 and 3: the primary (0x1F0, 0x3F6) and secondary
      // (0x170, 0x376) ATA ports.
      {kTupleConfigEntry, {0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0, 0x01, 0x07, 0xF6, 0x03, 0x01, 0xEE}},
      {kTupleConfigEntry, {0x83, 0x41, 0x18, 0xEA, 0x61, 0x70, 0x01, 0x07, 0x76, 0x03, 0x01, 0xEE}},
      // Version 5.0; maker and product blank, revision "0.0".
      {kTupleVersion1, {0x05, 0x00, ' ', ' ', ' ',  ' ', ' ', ' ', ' ',  0x00,
                        ' ',  ' ',  ' ', ' ', 0x00, '0', '.', '0', 0x00, 0xFF}},
      {kTupleNoLink, {}},
  };
  return tuples;
}

std::array<uint8_t, kCisBytes> LayOut() {
  std::array<uint8_t, kCisBytes> bytes{};  // what the chain leaves stays 0
  size_t at = 0;
  for (const Tuple& tuple : Tuples()) {
    bytes.at(at++) = tuple.code;
    bytes.at(at++) = static_cast<uint8_t>(tuple.body.size());
    for (uint8_t byte : tuple.body) bytes.at(at++) = byte;
  }
  bytes.at(at) = kTupleEnd;
  return bytes;
}

}  // namespace

const std::array<uint8_t, kCisBytes>& CisBytes() {
  static const std::array<uint8_t, kCisBytes> bytes = LayOut();
  return bytes;
}

bool HoldsCis(const uint8_t* pageData) {
  return std::equal(CisBytes().begin(), CisBytes().end(), pageData);
}

}  // namespace orvik::sim::inspect
