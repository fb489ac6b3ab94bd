#include "player/flash_pages.h"

#include "host/host_internals.h"

namespace orvik::tool {

std::span<const uint8_t> FlashPages::Read(uint32_t block, uint32_t page, uint32_t count) {
  return host::ReadRawPages(type_, block, page, count);
}

uint16_t SpareWord(std::span<const uint8_t> pages, const host::FlashTypeDescriptor& type,
                   uint32_t page) {
  return host::SpareAddressWord(pages.data(), type, page);
}

}  // namespace orvik::tool
