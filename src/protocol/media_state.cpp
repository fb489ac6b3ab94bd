// The media state of drive 0.
#include "protocol/media_state.h"

#include "platform/os.h"

namespace orvik::protocol {
namespace {
DriveMediaState gDrive0;
}

DriveMediaState* MediaStateFor(uint8_t drive) { return drive == 0 ? &gDrive0 : nullptr; }

int32_t MediaKindOf(uint8_t drive) { return drive == 0 ? gDrive0.mediaKind : 0; }

void SetDriveMediaKind(int32_t kind) { gDrive0.mediaKind = kind; }

void ReleaseDriveBuffers(DriveMediaState& state) {
  state.tableFresh = false;
  state.scanComplete = false;
  os::Os& os = os::TheOs();
  if (state.pageBuffer != nullptr) {
    os.FreePages(state.pageBuffer);
    state.pageBuffer = nullptr;
  }
  if (state.blockStatus != nullptr) {
    os.FreePages(state.blockStatus);
    state.blockStatus = nullptr;
  }
}

const FlashTypeDescriptor* RecordedFlashType(const DriveMediaState& state) {
  return FlashTypeFor(state.flashType);
}

}  // namespace orvik::protocol
