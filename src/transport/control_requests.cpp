// The driver's control requests.
//
// A request that reads a record or a word succeeds only when the driver
// returned all of it: a short answer would leave the rest of the caller's
// output as it was, reported as read.  The output is filled only then.
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

namespace {

// Reads one whole record or word; *out is filled only when all of it came.
template <typename Record>
bool ReadWhole(uint32_t code, Record* out) {
  Record answer{};
  uint32_t returned = 0;
  if (!ControlRequest(code, nullptr, 0, &answer, sizeof answer, &returned) ||
      returned < sizeof answer)
    return false;
  *out = answer;
  return true;
}

}  // namespace

bool GetUserData(_USER_DATA* record) {
  return record != nullptr && ReadWhole(kIoctlGetUserData, record);
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
  if (returned < sizeof word) return DEVICE_STATUS_FAILED;  // part of a word is no status
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
  return version != nullptr && ReadWhole(kIoctlGetDeviceVersion, version);
}

bool Reconfigure() {
  for (uint32_t attempt = 0; attempt < kReconfigureAttempts; ++attempt) {
    os::TheOs().Sleep(kReconfigurePauseMs);
    if (ControlRequest(kIoctlReconfigure, nullptr, 0, nullptr, 0, nullptr)) return true;
  }
  return false;
}

ORVIK_ULONG GetChipId() {
  ORVIK_ULONG word = DEFAULT_CHIP_ID;
  ReadWhole(kIoctlGetChipId, &word);  // a failed or short read leaves the default
  return word;
}

}  // namespace orvik::transport
