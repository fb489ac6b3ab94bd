// The driver-level exports: the device session and the control requests,
// exported as they are.  None of them takes the global lock.
#include "orvik/orvik.h"
#include "transport/control_requests.h"
#include "transport/session.h"

using namespace orvik::transport;

extern "C" {

ORVIK_API int ORVIK_CALL OrvikDDOpenDriver(char instance, unsigned char search,
                                           DEVICE_STATUS mode) {
  return OpenSession(instance, search != 0, mode, OpenKind::kBlocking) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikDDOpenDriverNoBlock(char instance, unsigned char search,
                                                  DEVICE_STATUS mode) {
  return OpenSession(instance, search != 0, mode, OpenKind::kNoBlock) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikDDCloseDriver(void) { return CloseSession() ? 1 : 0; }

ORVIK_API int ORVIK_CALL OrvikDDWrite(unsigned char* buffer, ORVIK_ULONG length) {
  return WriteToDevice(buffer, length) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikDDRead(unsigned char* buffer, ORVIK_ULONG length) {
  return ReadFromDevice(buffer, length) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikDDGetStatus(_USER_DATA* data) { return GetUserData(data) ? 1 : 0; }

ORVIK_API int ORVIK_CALL OrvikDDSetStatus(_USER_DATA* data) { return SetUserData(data) ? 1 : 0; }

ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikDDGetDeviceStatus(void) { return GetDeviceStatus(); }

ORVIK_API int ORVIK_CALL OrvikDDSetFormatStatus(int status) {
  return SetFormatStatus(status) ? 1 : 0;
}

ORVIK_API unsigned char ORVIK_CALL OrvikDDGetDeviceVersion(ORVIK_ULONG* version) {
  return GetDeviceVersion(version) ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikDDReconfigure(void) { return Reconfigure() ? 1 : 0; }

ORVIK_API ORVIK_ULONG ORVIK_CALL OrvikDDGetChipId(void) { return GetChipId(); }

}  // extern "C"
