// The player's own table of flash chips: geometry and identification codes.
//
// Every chip stores pages of 512 data bytes and 16 spare bytes; chips differ
// in pages per erase block and in block count.  The firmware answers the
// read-ID command with a maker code and a device code; a maker code of 0
// means the device code is the capacity in 4 MB units.
#pragma once

#include <cstdint>

namespace orvik::sim {

inline constexpr uint32_t kPageDataBytes = 512;
inline constexpr uint32_t kPageSpareBytes = 16;
inline constexpr uint32_t kPageBytes = kPageDataBytes + kPageSpareBytes;  // 528
inline constexpr uint32_t kFlashTypeCount = 36;                           // types 0..35

struct FlashGeometry {
  uint32_t pagesPerBlock = 0;
  uint32_t blockCount = 0;

  uint32_t PageCount() const { return pagesPerBlock * blockCount; }
  uint64_t DataBytes() const { return uint64_t{PageCount()} * kPageDataBytes; }
  uint32_t BlockDataBytes() const { return pagesPerBlock * kPageDataBytes; }
};

struct FlashIdCodes {
  uint8_t maker = 0;
  uint8_t device = 0;
};

bool IsValidFlashType(uint32_t type);
// Geometry of a flash type 0..35 (throws std::out_of_range otherwise).
FlashGeometry GeometryOfFlashType(uint32_t type);
// Chips of types 0 to 2 (256-byte pages) are programmed in half pages.
bool UsesHalfPages(uint32_t type);
// The codes a chip of this type answers by default: maker 0 and the
// capacity code for types 3..35; types 0..2 have no code of their own and
// answer maker 0, device 0, which identifies no known chip.
FlashIdCodes DefaultIdCodes(uint32_t type);
// The flash type a host derives from identification codes
// (FLASH_TYPE_UNKNOWN of the public header when none).
uint32_t FlashTypeForIdCodes(FlashIdCodes codes);

}  // namespace orvik::sim
