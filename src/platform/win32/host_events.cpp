// The host event helpers of orvik/posix.h on Windows.
//
// On Windows the library takes a Win32 event handle as the host's event, so
// here an OrvikPosixEvent is exactly such a handle (a manual-reset event).
// This lets hosts built with the library's objects (the host tool, the
// tests) use one event interface on every platform.  orvik.dll does not
// export these: hosts of the DLL create Win32 events themselves.
#include <windows.h>

#include "orvik/posix.h"

namespace {

HANDLE AsHandle(OrvikPosixEvent* event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

extern "C" {

ORVIK_API OrvikPosixEvent* ORVIK_CALL OrvikPosixEventCreate(void) {
  return reinterpret_cast<OrvikPosixEvent*>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

ORVIK_API int ORVIK_CALL OrvikPosixEventSet(OrvikPosixEvent* event) {
  return event != nullptr && SetEvent(AsHandle(event)) != 0 ? 1 : 0;
}

ORVIK_API int ORVIK_CALL OrvikPosixEventReset(OrvikPosixEvent* event) {
  return event != nullptr && ResetEvent(AsHandle(event)) != 0 ? 1 : 0;
}

ORVIK_API void ORVIK_CALL OrvikPosixEventClose(OrvikPosixEvent* event) {
  if (event != nullptr) CloseHandle(AsHandle(event));
}

}  // extern "C"
