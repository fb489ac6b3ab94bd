// Raw flash pages (data and redundant area) read through the library's page
// read, as the library's own version query and block map read them.  Works
// on a simulated player and a real one alike; needs the page buffer that a
// block status scan leaves in drive 0's state.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/host_internals.h"
#include "sim/player.h"

namespace orvik::tool {

class FlashPages {
 public:
  explicit FlashPages(const host::FlashType& type) : type_(type) {}

  // Reads count (1 to pagesPerBlock) raw pages from page `page` of block;
  // the bytes stay valid until the next read.  Empty when the read failed
  // (the player stopped answering, or no scan has run).
  std::span<const uint8_t> Read(uint32_t block, uint32_t page, uint32_t count);
  // The whole block, raw.
  std::span<const uint8_t> ReadBlock(uint32_t block) { return Read(block, 0, type_.pagesPerBlock); }

  const host::FlashType& Type() const { return type_; }

 private:
  host::FlashType type_;
};

// The system marks of a block of a copy of the flash, from its pages 0 and
// 1, read as the library reads them.
host::SystemBlockTag SystemBlockTagOf(const sim::RawPage& first, const sim::RawPage& second);

// The word in redundant bytes 6-7 of a page of a copy: a system page's
// marks, or on pages 2 to 5 of a file's first block its version words.
uint16_t SpareWord(const sim::RawPage& page);

// Every page of a block of a copy of the flash, in order.
std::vector<sim::RawPage> BlockPagesOf(const sim::Player& copy, uint32_t block);
// A page of a copy that reads erased: its data alone, or data and
// redundant bytes.
bool DataErased(const sim::RawPage& page);
bool PageErased(const sim::RawPage& page);

}  // namespace orvik::tool
