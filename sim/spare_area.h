// The 16 spare bytes that follow the 512 data bytes of every page, as the
// host lays them out and a SmartMedia reader reads them.  Chips of types 0
// to 2 keep the two 8-byte halves of their 256-byte pages one after the
// other, so the positions hold for every flash type.
#pragma once

#include <cstdint>

namespace orvik::sim {

enum SpareByte : uint32_t {
  kSpareDataStatus = 4,   // 0xFF on data pages, 0x00 on system pages
  kSpareBlockStatus = 5,  // 0xFF on the pages of a good block
  kSpareAddress1 = 6,     // the block-address field, low byte first
  kSpareEccHigh = 8,      // the 3-byte ECC of data bytes 256-511
  kSpareAddress2 = 11,    // the block-address field again
  kSpareEccLow = 13,      // the 3-byte ECC of data bytes 0-255
};

// The marks of system blocks in the block-address field, read as a
// little-endian word: "QV" on page 0, 'M' and the file's tag on page 1.
inline constexpr uint16_t SYSTEM_MARK = 0x5651;
inline constexpr uint8_t FILE_MARK = 0x4D;

}  // namespace orvik::sim
