// The 36 flash types the library knows, and their geometry.
//
// The library does not compute geometry from the chip: it reduces the flash
// (or a card's size) to a type index and takes every size from this table.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"

namespace orvik::protocol {

struct FlashTypeDescriptor {
  uint32_t typeIndex;
  uint16_t pageSize;  // bytes per page with the redundant area (528)
  uint16_t dataSize;  // data bytes per page (512)
  uint8_t pagesPerBlock;
  uint32_t blockCount;
  uint32_t logicalBlockCount;

  uint32_t BlockBytes() const { return uint32_t{pagesPerBlock} * dataSize; }
  uint32_t RawBlockBytes() const { return uint32_t{pagesPerBlock} * pageSize; }
};

inline constexpr uint32_t kFlashTypeCount = 36;
// FLASH_TYPE_UNKNOWN (the public header's) is the first index past the table.
static_assert(FLASH_TYPE_UNKNOWN == kFlashTypeCount);
inline constexpr uint32_t kLastFlashType = 35;
inline constexpr uint16_t kPageSize = 528;
inline constexpr uint16_t kDataSize = 512;
inline constexpr uint16_t kSpareSize = 16;

extern const FlashTypeDescriptor kFlashTypes[kFlashTypeCount];

// The descriptor of a type index, or nullptr for 36 and above.
const FlashTypeDescriptor* FlashTypeFor(uint32_t typeIndex);

// Blocks of the first zone: 256 for types 0 and 1, 512 for type 2, 1024 above.
uint32_t FirstZoneBlocks(uint32_t typeIndex);

}  // namespace orvik::protocol
