// The card information page.
#include "media/cis_page.h"

#include <algorithm>

namespace orvik::media {
namespace {

// One row a tuple: code, link, body.
// clang-format off
constexpr std::array<uint8_t, kCisBlockBytes> kBlock = {
    kTupleDevice, 0x03, 0xD9, 0x01, 0xFF,
    kTupleJedec, 0x02, 0xDF, 0x01,
    kTupleManufacturer, 0x04, 0x00, 0x00, 0x00, 0x00,
    kTupleFunctionId, 0x02, 0x04, 0x01,
    kTupleFunctionExtension, 0x02, 0x01, 0x01,
    kTupleFunctionExtension, 0x03, 0x02, 0x04, 0x07,
    kTupleConfig, 0x05, 0x01, 0x03, 0x00, 0x02, 0x0F,
    kTupleConfigEntry, 0x08, 0xC0, 0xC0, 0xA1, 0x01, 0x55, 0x08, 0x00, 0x20,
    kTupleConfigEntry, 0x0A, 0xC1, 0x41, 0x99, 0x01, 0x55, 0x64, 0xF0, 0xFF, 0xFF, 0x20,
    kTupleConfigEntry, 0x0C, 0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0, 0x01, 0x07, 0xF6, 0x03, 0x01, 0xEE,
    kTupleConfigEntry, 0x0C, 0x83, 0x41, 0x18, 0xEA, 0x61, 0x70, 0x01, 0x07, 0x76, 0x03, 0x01, 0xEE,
    // Version 5.0; blank maker and product names, then "0.0".
    kTupleVersion1, 0x14, 0x05, 0x00,
        0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00,
        0x20, 0x20, 0x20, 0x20, 0x00,
        0x30, 0x2E, 0x30, 0x00,
        0xFF,
    kTupleNoLink, 0x00,
    kTupleEnd,
    0x00, 0x00,  // padding to the block's size
};
// clang-format on

// True when the links chain from tuple to tuple exactly as kCisTuples says,
// and the end mark closes the tuples.
constexpr bool ChainMatchesTuples() {
  uint32_t offset = 0;
  for (const CisTuple& tuple : kCisTuples) {
    if (offset != tuple.offset || kBlock[offset] != tuple.code) return false;
    if (tuple.code == kTupleEnd) return offset + 1 == kCisTupleBytes;
    offset += 2u + kBlock[offset + 1];
  }
  return false;
}
static_assert(ChainMatchesTuples(), "a link byte or a named offset is wrong");

}  // namespace

const std::array<uint8_t, kCisBlockBytes> kCisBlock = kBlock;

void BuildCisPage(uint8_t* page512) {
  std::fill(page512, page512 + 512, uint8_t{0});
  std::copy(kCisBlock.begin(), kCisBlock.end(), page512);
  std::copy(kCisBlock.begin(), kCisBlock.end(), page512 + 256);
}

}  // namespace orvik::media
