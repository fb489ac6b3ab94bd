// The device channel on Windows.
//
// A device object is either a real one, opened with CreateFileA and driven
// with WriteFileEx/ReadFileEx, CancelIo and DeviceIoControl, or a driver
// registered in this process (the player simulator), whose answers reach the
// starting thread as asynchronous procedure calls, so that their completion
// routines run inside its alertable waits exactly as real I/O completions do.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/device_driver.h"
#include "platform/os.h"

namespace orvik::os {

struct DeviceObject {
  HANDLE handle = INVALID_HANDLE_VALUE;          // a real device object
  std::unique_ptr<DeviceConnection> connection;  // or an in-process driver
  std::mutex mutex;                              // guards connection and broken
  bool broken = false;                           // the in-process connection dropped
};

namespace win32 {

// How long a control request may wait for the driver's answer.
inline constexpr DWORD kControlLimitMs = 5000;

DeviceHandle OpenDevice(const char* name);
// Why the calling thread's last OpenDevice failed.
const char* LastOpenFailure();
bool CloseDevice(DeviceHandle device);
bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                CompletionRoutine routine);
bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
               CompletionRoutine routine);
bool CancelIo(DeviceHandle device);
bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength, void* out,
                   uint32_t outLength, uint32_t* returned);
// WaitForSingleObjectEx(event, milliseconds, TRUE), delivering the answers of
// in-process drivers that fall due meanwhile.
WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds);

}  // namespace win32
}  // namespace orvik::os
