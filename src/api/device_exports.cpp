// The device-query exports: chip identity and power status.
#include "api/global_lock.h"
#include "orvik/orvik.h"
#include "protocol/device_queries.h"
#include "transport/control_requests.h"

using namespace orvik;

extern "C" {

ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikGetChipId(unsigned char source) {
  if (source != 1) {
    api::GlobalLockGuard lock;
    return transport::GetChipId();
  }
  // The chip model, without the lock.  A description without a tag-0 item,
  // or one that cannot be read, says nothing of an early chip, and only an
  // early chip's firmware answers the revision command: the later model.
  uint32_t tag0 = 0;
  if (!protocol::ParseDeviceInfo(&tag0, nullptr, nullptr) || tag0 <= 0x100) return CHIP_MODEL_LATER;
  uint32_t revision = 0;
  if (!protocol::ReadChipRevision(&revision)) return CHIP_MODEL_LATER;
  return ((revision >> 8) & 0xFFFF) == CHIP_REPLY_LATER ? CHIP_MODEL_LATER : CHIP_MODEL_EARLY;
}

ORVIK_API ACCESS_DEVICE_STATUS ORVIK_CALL OrvikGetPowerStatus(ORVIK_ULONG* power) {
  api::GlobalLockGuard lock;
  return protocol::ReadPowerStatus(power) ? ACCESS_DEVICE_ANSWERED : ACCESS_DEVICE_NO_ANSWER;
}

}  // extern "C"
