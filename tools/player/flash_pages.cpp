#include "player/flash_pages.h"

#include <algorithm>

#include "host/host_internals.h"
#include "sim/byte_order.h"
#include "sim/byte_runs.h"
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

std::vector<sim::RawPage> BlockPagesOf(const sim::Player& copy, uint32_t block) {
  const uint32_t pages = copy.PagesPerBlock();
  std::vector<sim::RawPage> raw;
  raw.reserve(pages);
  for (uint32_t page = 0; page < pages; ++page) raw.push_back(copy.ReadPage(block * pages + page));
  return raw;
}

bool DataErased(const sim::RawPage& page) {
  return sim::AllBytesAre(page.data(), sim::kPageDataBytes, 0xFF);
}

bool PageErased(const sim::RawPage& page) {
  return sim::AllBytesAre(page.data(), page.size(), 0xFF);
}

}  // namespace orvik::tool
