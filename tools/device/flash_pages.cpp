#include "device/flash_pages.h"

#include "protocol/byte_order.h"
#include "protocol/flash_commands.h"
#include "protocol/media_state.h"

namespace orvik::tool {

std::span<const uint8_t> FlashPages::Read(uint32_t block, uint32_t page, uint32_t count) {
  const protocol::DriveMediaState* drive = protocol::MediaStateFor(0);
  if (drive == nullptr || drive->pageBuffer == nullptr || count == 0 ||
      page + count > type_.pagesPerBlock || block >= type_.blockCount)
    return {};
  const uint32_t address = (block * type_.pagesPerBlock + page) * type_.dataSize;
  if (!protocol::FlashReadPages(nullptr, count, address, type_.pageSize, type_.dataSize, 0))
    return {};
  return {drive->pageBuffer, size_t{count} * type_.pageSize};
}

uint16_t SpareWord(std::span<const uint8_t> pages, const protocol::FlashTypeDescriptor& type,
                   uint32_t page) {
  const uint8_t* spare = pages.data() + size_t{page} * type.pageSize + type.dataSize;
  return protocol::GetLittleEndian16(&spare[protocol::kSpareAddress1]);
}

}  // namespace orvik::tool
