// The data-area erase.
#include "media/data_area_erase.h"

#include "media/block_eraser.h"
#include "media/block_status.h"
#include "platform/os.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"

namespace orvik::media {

bool DataAreaEraseAllowed(const protocol::DriveMediaState& state, uint32_t flashType) {
  return !state.blockStatus.empty() && protocol::FlashTypeFor(flashType) != nullptr &&
         state.flashType == flashType;
}

bool EraseDataArea(const protocol::FlashDrive& drive, uint32_t flashType,
                   protocol::ProgressTarget& percentDone) {
  protocol::DriveMediaState& state = *drive.state;
  percentDone.Store(0.0);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashType);
  const uint32_t firstZoneBlocks = protocol::FirstZoneBlocks(flashType);
  if (firstZoneBlocks >= type.blockCount) {
    percentDone.Store(100.0);
    return true;
  }
  uint8_t* table = state.blockStatus.data();
  BlockEraser eraser(type, drive, "data-area erase");
  for (uint32_t block = firstZoneBlocks; block < type.blockCount; ++block) {
    if (table[block] == BLOCK_GOOD) {
      EraseResult result = eraser.Erase(block);
      if (result != EraseResult::kErased) {
        table[block] = BLOCK_BAD;
        state.tableFresh = false;
        os::TheOs().DebugOutput("Bad Block: erase failed \n");
      }
      if (result == EraseResult::kFailed) return false;
    }
    percentDone.Store(100.0 * block / type.blockCount);
  }
  return true;
}

}  // namespace orvik::media
