// The quick format: erase stage (phase 8), format stage (phase 7) and the
// driver's format status, on the internal flash or on the MMC card.
#include "media/quick_format.h"

#include "mmc/card_blocks.h"
#include "mmc/card_format.h"
#include "orvik/orvik.h"
#include "platform/trace.h"
#include "transport/control_requests.h"

namespace orvik::media {
namespace {

using protocol::MEDIA_KIND_FLASH;

bool RunEraseStage(const protocol::FlashDrive& drive, protocol::ProgressTarget& progress) {
  const protocol::DriveMediaState& state = *drive.state;
  if (state.mediaKind == MEDIA_KIND_FLASH) return EraseFirstZone(drive, progress);
  return mmc::EraseFileSystemArea(state.cardSlot, state.cardCapacity, progress);
}

bool RunFormatStage(const protocol::FlashDrive& drive, bool sizeFromRegistry,
                    protocol::ProgressTarget& progress) {
  const protocol::DriveMediaState& state = *drive.state;
  if (state.mediaKind == MEDIA_KIND_FLASH)
    return WriteLogicalFormat(drive, sizeFromRegistry, progress);
  return mmc::FormatCard(state.cardSlot, state.cardCapacity, progress);
}

}  // namespace

PROGRAM_MEDIA_STATUS QuickFormat(const protocol::FlashDrive& drive, bool sizeFromRegistry,
                                 protocol::ProgressTarget& progress) {
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("quick format: the device-version request failed; nothing was written");
    return PROGRAM_MEDIA_NO_DEVICE;
  }

  drive.state->tableFresh = false;  // the stages take and retire blocks
  progress.Announce(ORVIK_PHASE_ERASE, 0.0);
  if (!RunEraseStage(drive, progress)) {
    os::TraceFailure("quick format: the erase stage failed");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  progress.Announce(ORVIK_PHASE_ERASE, 100.0);
  progress.Announce(ORVIK_PHASE_LOGICAL_FORMAT, 0.0);
  if (!RunFormatStage(drive, sizeFromRegistry, progress)) {
    os::TraceFailure("quick format: the format stage failed");
    return PROGRAM_MEDIA_FORMAT_FAILED;
  }
  progress.Announce(ORVIK_PHASE_LOGICAL_FORMAT, 100.0);
  PROGRAM_MEDIA_STATUS result = PROGRAM_MEDIA_DONE;
  if (!transport::SetFormatStatus(1)) {
    os::TraceFailure("quick format: the volume was written, but the format-status request failed");
    result = PROGRAM_MEDIA_FORMAT_FAILED;
  }
  progress.Announce(ORVIK_PHASE_LOGICAL_FORMAT, 100.0);
  return result;
}

}  // namespace orvik::media
