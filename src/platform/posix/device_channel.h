// The device channel on POSIX: device objects served in-process or over a
// Unix socket, with Win32-style overlapped transfers.
//
// POSIX has no asynchronous procedure calls, so they are emulated: each
// thread keeps the transfers it started, and an alertable wait on that
// thread receives their answers and runs their completion routines, exactly
// where Windows would run them.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace orvik::os::posix {

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
WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds);

// How long a control request may wait for a socket device to take the
// request and answer it.
inline constexpr uint32_t kControlLimitMs = 5000;

}  // namespace orvik::os::posix
