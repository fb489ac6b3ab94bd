// The quick format export: erase stage (phase 8), format stage (phase 7) and
// the driver's format status, on the internal flash or on the MMC card.
#include "media/quick_format.h"

#include "api/global_lock.h"
#include "api/progress.h"
#include "mmc/card_blocks.h"
#include "mmc/card_format.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "transport/control_requests.h"

using namespace orvik;
using protocol::MEDIA_KIND_FLASH;
using protocol::MEDIA_KIND_MMC;

namespace {

bool RunEraseStage(const protocol::DriveMediaState& state, uint8_t drive) {
  if (state.mediaKind == MEDIA_KIND_FLASH) return media::EraseFirstZone(drive);
  api::LibraryProgress percentDone;
  return mmc::EraseFileSystemArea(state.cardSlot, state.cardCapacity, percentDone);
}

bool RunFormatStage(const protocol::DriveMediaState& state, uint8_t drive, bool sizeFromRegistry) {
  if (state.mediaKind == MEDIA_KIND_FLASH)
    return media::WriteLogicalFormat(drive, sizeFromRegistry);
  api::LibraryProgress percentDone;
  return mmc::FormatCard(state.cardSlot, state.cardCapacity, percentDone);
}

}  // namespace

extern "C" {

ORVIK_API PROGRAM_MEDIA_STATUS ORVIK_CALL OrvikQuickFormatPelk(ORVIK_ULONG* flashTypes,
                                                               unsigned char drive,
                                                               int sizeFromRegistry,
                                                               _BinaryFilesInformation* files,
                                                               void* event) {
  (void)files;
  // Only drive 0 has media state; the drive is checked before the host's
  // array is read.  A media kind that is neither the flash nor a card has
  // nothing this export can format: it is refused rather than reported to
  // the driver as formatted.
  protocol::DriveMediaState* state = protocol::MediaStateFor(drive);
  if (state == nullptr || flashTypes == nullptr || flashTypes[drive] > protocol::kLastFlashType ||
      (state->mediaKind != MEDIA_KIND_FLASH && state->mediaKind != MEDIA_KIND_MMC)) {
    os::TraceFailure(
        "quick format: drive %u has no flash or card to format, or its type is unknown", drive);
    return PROGRAM_MEDIA_NOT_FLASH;
  }

  api::GlobalLockGuard lock;
  // The flash needs the scanned table, a known type and a sound volume
  // size; without them nothing is sent, erased or written.
  if (state->mediaKind == MEDIA_KIND_FLASH &&
      !media::PlannedPartitionSectors(*state, sizeFromRegistry != 0)) {
    os::TraceFailure("quick format: no scanned table, or no room for a volume; nothing was sent");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("quick format: the device-version request failed; nothing was written");
    return PROGRAM_MEDIA_NO_DEVICE;
  }

  state->tableFresh = false;  // the stages take and retire blocks
  api::SetPhase(ORVIK_PHASE_ERASE, 0.0, event);
  if (!RunEraseStage(*state, drive)) {
    os::TraceFailure("quick format: the erase stage failed");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  api::SetPhase(ORVIK_PHASE_ERASE, 100.0, event);
  api::SetPhase(ORVIK_PHASE_LOGICAL_FORMAT, 0.0, event);
  if (!RunFormatStage(*state, drive, sizeFromRegistry != 0)) {
    os::TraceFailure("quick format: the format stage failed");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  api::SetPhase(ORVIK_PHASE_LOGICAL_FORMAT, 100.0, event);
  PROGRAM_MEDIA_STATUS result = PROGRAM_MEDIA_DONE;
  if (!transport::SetFormatStatus(1)) {
    os::TraceFailure("quick format: the volume was written, but the format-status request failed");
    result = PROGRAM_MEDIA_FORMAT_FAILED;
  }
  api::SetPhase(ORVIK_PHASE_LOGICAL_FORMAT, 100.0, event);
  return result;
}

}  // extern "C"
