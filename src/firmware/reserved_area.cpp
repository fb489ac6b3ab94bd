// The registry reservation.
#include "firmware/reserved_area.h"

#include <limits>

#include "platform/os.h"

namespace orvik::firmware {

uint32_t ReadReservedBlockCount(uint16_t dataSize, uint16_t pagesPerBlock) {
  os::RegistryDword reserved = os::TheOs().ReadReservedKilobytes();
  if (!reserved.found || reserved.value == 0) return 0;
  uint64_t blockBytes = uint64_t{dataSize} * pagesPerBlock;
  if (blockBytes == 0) return 0;
  // In 64 bits: kilobytes x 1024 does not fit in 32 bits from 4 GiB on.
  uint64_t bytes = uint64_t{reserved.value} * 1024;
  uint64_t blocks = bytes / blockBytes + (bytes % blockBytes != 0 ? 1 : 0);
  return blocks > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(blocks);
}

}  // namespace orvik::firmware
