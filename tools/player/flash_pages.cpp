#include "player/flash_pages.h"

#include <algorithm>

#include "host/host_internals.h"
#include "sim/byte_order.h"
#include "sim/spare_area.h"

namespace orvik::tool {

std::span<const uint8_t> FlashPages::Read(uint32_t block, uint32_t page, uint32_t count) {
  return host::ReadRawPages(type_, block, page, count);
}

host::SystemBlockTag SystemBlockTagOf(const sim::RawPage& first, const sim::RawPage& second) {
  std::array<uint8_t, 2 * sizeof(sim::RawPage)> run;
  std::copy(second.begin(), second.end(), std::copy(first.begin(), first.end(), run.begin()));
  return host::ReadSystemBlockTag(run);
}

uint16_t SpareWord(const sim::RawPage& page) {
  return static_cast<uint16_t>(
      sim::GetLittleEndian(&page[sim::kPageDataBytes + sim::kSpareAddress1], 2));
}

}  // namespace orvik::tool
