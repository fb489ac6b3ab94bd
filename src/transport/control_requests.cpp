// The driver's control requests.
#include "transport/control_requests.h"

#include "platform/os.h"
#include "transport/exchange_guard.h"
#include "transport/session.h"

namespace orvik::transport {

bool ControlRequest(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                    uint32_t* returned) {
  uint32_t ignored = 0;
  if (returned == nullptr) returned = &ignored;
  *returned = 0;
  ExchangeGuard exchange;
  os::DeviceHandle device = SessionDevice();
  if (device == nullptr) return false;
  return os::TheOs().DeviceControl(device, code, in, inLength, out, outLength, returned);
}

bool GetUserData(_USER_DATA* record) {
  if (record == nullptr) return false;
  return ControlRequest(kIoctlGetUserData, nullptr, 0, record, sizeof *record, nullptr);
}

bool SetUserData(const _USER_DATA* record) {
  if (record == nullptr) return false;
  return ControlRequest(kIoctlSetUserData, record, sizeof *record, nullptr, 0, nullptr);
}

DEVICE_STATUS GetDeviceStatus() {
  ORVIK_ULONG word = 0;
  uint32_t returned = 0;
  if (!ControlRequest(kIoctlGetDeviceStatus, nullptr, 0, &word, sizeof word, &returned))
    return DEVICE_STATUS_FAILED;
  if (returned == 0) return DEVICE_STATUS_NO_DATA;
  return word == 1 ? DEVICE_STATUS_NORMAL : DEVICE_STATUS_RECOVERY;
}

bool SetFormatStatus(int status) {
  // Words 2 and 3 keep what the driver holds; a failed read leaves them 0.
  // One exchange: no other request may change the record in between.
  ExchangeGuard exchange;
  _USER_DATA record{};
  GetUserData(&record);
  record.ownerFlag = 1;
  record.formatStatus = static_cast<ORVIK_ULONG>(status);
  return SetUserData(&record);
}

bool GetDeviceVersion(ORVIK_ULONG* version) {
  if (version == nullptr) return false;
  return ControlRequest(kIoctlGetDeviceVersion, nullptr, 0, version, sizeof *version, nullptr);
}

bool Reconfigure() {
  for (uint32_t attempt = 0; attempt < kReconfigureAttempts; ++attempt) {
    os::TheOs().Sleep(kReconfigurePauseMs);
    if (ControlRequest(kIoctlReconfigure, nullptr, 0, nullptr, 0, nullptr)) return true;
  }
  return false;
}

ORVIK_ULONG GetChipId() {
  ORVIK_ULONG word = 0;
  uint32_t returned = 0;
  if (!ControlRequest(kIoctlGetChipId, nullptr, 0, &word, sizeof word, &returned) ||
      returned < sizeof word)
    return DEFAULT_CHIP_ID;
  return word;
}

}  // namespace orvik::transport
