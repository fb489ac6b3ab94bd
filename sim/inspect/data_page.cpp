#include "sim/inspect/data_page.h"

#include <algorithm>
#include <bit>

#include "sim/inspect/page_ecc.h"
#include "sim/spare_area.h"

namespace orvik::sim::inspect {

uint16_t EncodeBlockAddress(uint32_t zoneRelativeBlock) {
  const uint32_t number = zoneRelativeBlock & 0x3FF;
  const uint32_t low = 0x10 | (number >> 7);
  uint32_t high = (number & 0x7F) << 1;
  if (std::popcount(low | high << 8) % 2 != 0) high |= 1;
  return static_cast<uint16_t>(low | high << 8);
}

RawPage BuildDataPage(const uint8_t* data, uint32_t zoneRelativeBlock) {
  RawPage page;
  page.fill(0xFF);
  std::copy_n(data, kPageDataBytes, page.begin());
  uint8_t* spare = page.data() + kPageDataBytes;
  ComputeEcc256(data, spare + kSpareEccLow);
  ComputeEcc256(data + 256, spare + kSpareEccHigh);
  const uint16_t field = EncodeBlockAddress(zoneRelativeBlock);
  for (uint32_t at : {kSpareAddress1, kSpareAddress2}) {
    spare[at] = static_cast<uint8_t>(field & 0xFF);
    spare[at + 1] = static_cast<uint8_t>(field >> 8);
  }
  return page;
}

}  // namespace orvik::sim::inspect
