// The flash-size query and the card-preparation query.
#include "api/global_lock.h"
#include "api/library_context.h"
#include "orvik/orvik.h"
#include "protocol/flash_identification.h"
#include "protocol/media_state.h"

using namespace orvik;
using protocol::MEDIA_KIND_MMC;

extern "C" {

ORVIK_API ACCESS_DEVICE_STATUS ORVIK_CALL OrvikGetFlashSizes(ORVIK_ULONG* flashType,
                                                             ORVIK_ULONG* failed) {
  ORVIK_ULONG ignoredType = 0;
  ORVIK_ULONG ignoredFailed = 0;
  if (flashType == nullptr) flashType = &ignoredType;
  if (failed == nullptr) failed = &ignoredFailed;
  api::GlobalLockGuard lock;
  *failed = 0;
  api::LibraryContext& context = api::Context();
  protocol::DriveMediaState& drive = *context.DriveState(0);
  uint32_t present = 0;
  bool answered = false;
  if (drive.mediaKind == MEDIA_KIND_MMC) {
    ORVIK_ULONG capacity = 0;
    answered = OrvikMMCDetectMedia(drive.cardSlot, &capacity, nullptr, nullptr, nullptr) == 1;
    present = capacity != 0 ? 1 : 0;
    *flashType = protocol::MmcSizeToFlashType(capacity);
    drive.cardCapacity = capacity;
  } else {
    answered = protocol::FlashReadId(&present, flashType, 0, context.FlashCommandForm());
  }
  if (!answered) {
    *failed = 1;
    return ACCESS_DEVICE_NO_ANSWER;
  }
  if (present == 0) *flashType = FLASH_TYPE_UNKNOWN;
  return ACCESS_DEVICE_ANSWERED;
}

// Drives other than 0 have no media the library could prepare.
ORVIK_API unsigned char ORVIK_CALL OrvikFatPrepareSupported(unsigned char drive) {
  api::LibraryContext& context = api::Context();
  if (context.DriveState(drive) == nullptr) return 0;
  return context.MediaKindOf(drive) == MEDIA_KIND_MMC ? 0 : 1;
}

}  // extern "C"
