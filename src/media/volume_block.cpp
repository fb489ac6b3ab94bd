#include "media/volume_block.h"

#include <cstring>

#include "media/block_eraser.h"
#include "media/format_layout.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

VolumeBlockResult Failed(const char* step, uint32_t block) {
  os::TraceFailure("volume write: %s block %u failed: %s", step, block,
                   transport::LastFailureCause());
  return VolumeBlockResult::kFailed;
}

}  // namespace

VolumeBlockResult WriteVolumeBlock(const protocol::FlashDrive& drive,
                                   const protocol::FlashTypeDescriptor& type, uint32_t block,
                                   uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount) {
  if (drive.state == nullptr || drive.state->pageBuffer.empty() || block >= type.blockCount ||
      sectorCount == 0 || sectorCount > type.pagesPerBlock)
    return VolumeBlockResult::kFailed;
  BlockEraser eraser(type, drive, "volume write");
  switch (eraser.Erase(block)) {
    case EraseResult::kErased:
      break;
    case EraseResult::kInvalidated:
      return VolumeBlockResult::kInvalidated;
    case EraseResult::kFailed:
      return VolumeBlockResult::kFailed;
  }
  os::PageBuffer readBack;
  if (!readBack.Allocate(type.pageSize)) {
    os::TraceFailure("volume write: no memory for the read-back page");
    return VolumeBlockResult::kFailed;
  }
  for (uint32_t page = 0; page < sectorCount; ++page) {
    const uint8_t* sector = sectors + size_t{page} * kSectorBytes;
    const uint32_t address = (block * type.pagesPerBlock + page) * type.dataSize;
    if (!protocol::FlashWritePage(sector, address, type.pageSize, type.dataSize, logicalField,
                                  drive))
      return Failed("writing a sector to", block);
    if (!protocol::FlashReadPages(readBack.data(), 1, address, type.pageSize, type.dataSize, drive))
      return Failed("reading a sector back from", block);
    if (std::memcmp(readBack.data(), sector, kSectorBytes) != 0) {
      os::TraceFailure("volume write: page %u of block %u did not read back; invalidating it", page,
                       block);
      // Erased and zero-filled: no page keeps claiming the logical block.
      const EraseResult erased = eraser.Erase(block);
      if (erased == EraseResult::kFailed) return VolumeBlockResult::kFailed;
      if (erased == EraseResult::kErased && !eraser.Invalidate(block))
        return VolumeBlockResult::kFailed;
      return VolumeBlockResult::kInvalidated;
    }
  }
  return VolumeBlockResult::kWritten;
}

}  // namespace orvik::media
