// Erasing blocks for the erase passes, invalidating those that cannot be.
#include "media/block_eraser.h"

#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/session.h"

namespace orvik::media {

EraseResult BlockEraser::Erase(uint32_t block) {
  uint32_t status = 0;
  uint32_t address = block * type_.BlockBytes();
  if (protocol::FlashEraseBlock(address, type_.pagesPerBlock, drive_, &status, nullptr)) {
    if (status == 0) return EraseResult::kErased;
    os::TraceFailure("%s: the device could not erase block %u (status 0x%X); invalidating it",
                     operation_, block, status);
  } else if (transport::DeviceStoppedAnswering()) {
    os::TraceFailure("%s: erasing block %u failed: %s; stopping", operation_, block,
                     transport::LastFailureCause());
    return EraseResult::kFailed;
  } else {
    os::TraceFailure("%s: erasing block %u failed: %s; invalidating it", operation_, block,
                     transport::LastFailureCause());
  }
  return ZeroFill(block) ? EraseResult::kInvalidated : EraseResult::kFailed;
}

bool BlockEraser::ZeroFill(uint32_t block) {
  if (zeros_.empty() && !zeros_.Allocate(type_.BlockBytes())) {
    os::TraceFailure("%s: no memory to invalidate block %u", operation_, block);
    return false;
  }
  protocol::PageMarking marking;
  marking.zeroSpare = true;
  if (protocol::FlashWritePages(zeros_.data(), type_.pagesPerBlock, block * type_.BlockBytes(),
                                type_.pageSize, type_.dataSize, marking, drive_))
    return true;
  os::TraceFailure("%s: invalidating block %u failed: %s", operation_, block,
                   transport::LastFailureCause());
  return false;
}

}  // namespace orvik::media
