// The media state of a drive.
#include "protocol/media_state.h"

namespace orvik::protocol {

void ReleaseDriveBuffers(DriveMediaState& state) {
  state.tableFresh = false;
  state.scanComplete = false;
  state.pageBuffer.Release();
  state.blockStatus.Release();
}

const FlashTypeDescriptor* RecordedFlashType(const DriveMediaState& state) {
  return FlashTypeFor(state.flashType);
}

}  // namespace orvik::protocol
