// The public entry points: the four opens, the close, and the status
// wrappers around the driver's control requests.
#include <cstdio>

#include "api/global_lock.h"
#include "api/library_context.h"
#include "orvik/orvik.h"
#include "platform/os.h"
#include "protocol/device_queries.h"
#include "transport/control_requests.h"
#include "transport/session.h"

using namespace orvik;

namespace {

// The open-time description read: the first tag-1 item gives the DCC
// version, which fixes the form of every flash command word.
void ReadDescription(api::LibraryContext& context) {
  context.SetDccVersion(0);
  uint8_t record[protocol::kDeviceInfoLength] = {};
  if (protocol::ReadDeviceInfo(record)) {
    for (uint32_t item = 0; item < protocol::DeviceInfoItemCount(record); ++item) {
      if (protocol::DeviceInfoTag(record, item) == protocol::INFO_TAG_DCC_VERSION) {
        context.SetDccVersion(protocol::DeviceInfoValue(record, item));
        break;
      }
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "Smartmedia DCC Version: %x\n",
                static_cast<unsigned>(context.DccVersion()));
  os::TheOs().DebugOutput(text);
}

// Opens and closes take the global lock, so a session never changes under a
// running operation: they wait for it to end.
int Open(char instance, bool search, DEVICE_STATUS mode, transport::OpenKind kind) {
  api::GlobalLockGuard lock;
  if (!transport::OpenSession(instance, search, mode, kind)) return 0;
  // The global lock already exists for the whole process; nothing to set up.
  if (mode == DEVICE_STATUS_NORMAL) ReadDescription(api::Context());
  return 1;
}

}  // namespace

extern "C" {

ORVIK_API int ORVIK_CALL OrvikOpenDriver(DEVICE_STATUS mode) {
  return Open(0, true, mode, transport::OpenKind::kBlocking);
}

ORVIK_API int ORVIK_CALL OrvikOpenDriverEx(char instance, DEVICE_STATUS mode) {
  return Open(instance, false, mode, transport::OpenKind::kBlocking);
}

ORVIK_API int ORVIK_CALL OrvikOpenDriverNoBlock(char instance, DEVICE_STATUS mode) {
  return Open(instance, false, mode, transport::OpenKind::kNoBlock);
}

ORVIK_API int ORVIK_CALL OrvikOpenDriverNoBlockEx(DEVICE_STATUS mode) {
  return Open(0, true, mode, transport::OpenKind::kNoBlock);
}

ORVIK_API int ORVIK_CALL OrvikCloseDriver(void) {
  api::GlobalLockGuard lock;
  return transport::CloseSession() ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikGetStatus(_USER_DATA* data) {
  api::GlobalLockGuard lock;
  return transport::GetUserData(data) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikSetStatus(_USER_DATA* data) {
  api::GlobalLockGuard lock;
  return transport::SetUserData(data) ? 1 : 0;
}

ORVIK_API DEVICE_STATUS ORVIK_CALL OrvikGetDeviceStatus(void) {
  api::GlobalLockGuard lock;
  return transport::GetDeviceStatus();
}

ORVIK_API int ORVIK_CALL OrvikGetDeviceVersion(ORVIK_ULONG* version) {
  api::GlobalLockGuard lock;
  return transport::GetDeviceVersion(version) ? 1 : 0;
}

}  // extern "C"
