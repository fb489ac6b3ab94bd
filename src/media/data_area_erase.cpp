// The data-area erase and its export.
#include "media/data_area_erase.h"

#include "api/global_lock.h"
#include "media/block_eraser.h"
#include "media/block_status.h"
#include "orvik/orvik.h"
#include "platform/os.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"

namespace orvik::media {

bool DataAreaEraseAllowed(const protocol::DriveMediaState& state, uint32_t flashType) {
  return state.blockStatus != nullptr && protocol::FlashTypeFor(flashType) != nullptr &&
         state.flashType == flashType;
}

bool EraseDataArea(protocol::DriveMediaState& state, uint8_t drive, uint32_t flashType,
                   api::ProgressTarget& percentDone) {
  percentDone.Store(0.0);
  const protocol::FlashTypeDescriptor& type = *protocol::FlashTypeFor(flashType);
  const uint32_t firstZoneBlocks = protocol::FirstZoneBlocks(flashType);
  if (firstZoneBlocks >= type.blockCount) {
    percentDone.Store(100.0);
    return true;
  }
  uint8_t* table = state.blockStatus;
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

using namespace orvik;

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikFatEraseDataArea(ORVIK_ULONG* flashTypes,
                                                                unsigned char drive, void* event) {
  api::SetPhase(ORVIK_PHASE_ERASE, 0.0, event);
  // Only drive 0 has media state; the drive is checked before the host's
  // array is read, so an array of one entry is never read past its end.
  protocol::DriveMediaState* state = protocol::MediaStateFor(drive);
  const uint32_t flashType =
      state == nullptr || flashTypes == nullptr ? protocol::kFlashTypeUnknown : flashTypes[drive];
  if (protocol::FlashTypeFor(flashType) == nullptr) {
    os::TraceFailure("data-area erase: drive %u has no flash, or its type is unknown", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }
  if (state->mediaKind == protocol::MEDIA_KIND_MMC) return PROGRAM_MEDIA_DONE;
  if (state->mediaKind != protocol::MEDIA_KIND_FLASH) {
    os::TraceFailure("data-area erase: drive %u is neither the flash nor a card", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }

  api::GlobalLockGuard lock;
  if (!media::DataAreaEraseAllowed(*state, flashType)) {
    os::TraceFailure("data-area erase: no block status table of flash type %u: scan first",
                     flashType);
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  api::LibraryProgress percentDone;
  if (!media::EraseDataArea(*state, drive, flashType, percentDone))
    return PROGRAM_MEDIA_FORMAT_FAILED;
  api::SetPhase(ORVIK_PHASE_ERASE, 100.0, event);
  return PROGRAM_MEDIA_DONE;
}

}  // extern "C"
