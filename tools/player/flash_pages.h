// Raw flash pages (data and redundant area) read through the library's page
// read, as the library's own version query and block map read them.  Works
// on a simulated player and a real one alike; needs the page buffer that a
// block status scan leaves in drive 0's state.
#pragma once

#include <cstdint>
#include <span>

#include "host/host_internals.h"

namespace orvik::tool {

class FlashPages {
 public:
  explicit FlashPages(const host::FlashTypeDescriptor& type) : type_(type) {}

  // Reads count (1 to pagesPerBlock) raw pages from page `page` of block;
  // the bytes stay valid until the next read.  Empty when the read failed
  // (the player stopped answering, or no scan has run).
  std::span<const uint8_t> Read(uint32_t block, uint32_t page, uint32_t count);
  // The whole block, raw.
  std::span<const uint8_t> ReadBlock(uint32_t block) { return Read(block, 0, type_.pagesPerBlock); }

  const host::FlashTypeDescriptor& Type() const { return type_; }

 private:
  const host::FlashTypeDescriptor& type_;
};

// The 16-bit word at redundant bytes 6-7 of page `page` of a raw run of pages.
uint16_t SpareWord(std::span<const uint8_t> pages, const host::FlashTypeDescriptor& type,
                   uint32_t page);

}  // namespace orvik::tool
