// The device channel on Windows: real device objects and the dispatch to
// in-process drivers.
#include "platform/win32/device_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/win32/in_process_channel.h"
#include "platform/win32/pipe_redirect.h"
#include "platform/win32/transfer_record.h"

namespace orvik::os::win32 {
namespace {

thread_local char tOpenFailure[96] = "";

DeviceHandle OpenFailed(const char* reason) {
  std::snprintf(tOpenFailure, sizeof tOpenFailure, "%s", reason);
  return nullptr;
}

HANDLE OpenDeviceObject(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

// Tests serve a device object from a named pipe; one read takes one reply.
HANDLE OpenRedirectedPipe(const char* pipeName) {
  HANDLE handle = OpenDeviceObject(pipeName);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
  return handle;
}

VOID CALLBACK OnRealCompletion(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  // The OVERLAPPED is the first member of its record.
  CompleteTransfer(reinterpret_cast<TransferRecord*>(overlapped), error, bytes);
}

bool StartReal(DeviceObject* device, bool isWrite, const void* data, uint8_t* target,
               uint32_t length, AsyncIo* io, CompletionRoutine routine) {
  TransferRecord* record = NewTransfer(device, false, io, routine, isWrite ? nullptr : target,
                                       isWrite ? data : nullptr, length);
  if (record == nullptr) return false;
  record->overlapped.Offset = io->offset;
  record->overlapped.OffsetHigh = io->offsetHigh;
  BOOL started = isWrite ? WriteFileEx(device->handle, record->staging.data(), length,
                                       &record->overlapped, OnRealCompletion)
                         : ReadFileEx(device->handle, record->staging.data(), length,
                                      &record->overlapped, OnRealCompletion);
  if (started == 0) {
    DiscardTransfer(record);  // no completion routine will run
    return false;
  }
  return true;
}

// A control request issued with an OVERLAPPED of its own and waited for, so
// that it is synchronous on a handle opened for overlapped I/O (where a
// request without an OVERLAPPED could return while the driver still writes
// the output).  Input and output are staged in the request, which is given
// up (and deliberately kept) if the driver neither answers in time nor
// cancels.
struct ControlRequest {
  OVERLAPPED overlapped{};
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
};

bool ControlReal(DeviceObject* device, uint32_t code, const void* in, uint32_t inLength, void* out,
                 uint32_t outLength, uint32_t* returned) {
  auto* request = new (std::nothrow) ControlRequest;
  if (request == nullptr) return false;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) {
    delete request;
    return false;
  }
  bool ok = false;
  bool finished = false;
  DWORD bytes = 0;
  try {
    request->in.assign(std::max<uint32_t>(inLength, 1), 0);
    request->out.assign(std::max<uint32_t>(outLength, 1), 0);
  } catch (const std::bad_alloc&) {
    CloseHandle(done);
    delete request;
    return false;
  }
  if (in != nullptr && inLength != 0) std::memcpy(request->in.data(), in, inLength);
  request->overlapped.hEvent = done;
  BOOL issued = DeviceIoControl(device->handle, code, in != nullptr ? request->in.data() : nullptr,
                                inLength, out != nullptr ? request->out.data() : nullptr, outLength,
                                nullptr, &request->overlapped);
  if (issued != 0 || GetLastError() == ERROR_IO_PENDING) {
    finished = WaitForSingleObject(done, kControlLimitMs) == WAIT_OBJECT_0;
    if (!finished) {
      CancelIoEx(device->handle, &request->overlapped);
      finished = WaitForSingleObject(done, 100) == WAIT_OBJECT_0;
    }
    if (finished)
      ok = GetOverlappedResult(device->handle, &request->overlapped, &bytes, FALSE) != 0;
  } else {
    finished = true;  // refused at once: nothing is pending
  }
  if (!finished) return false;  // the driver still owns the request and its event
  bytes = std::min<DWORD>(bytes, outLength);
  if (out != nullptr && bytes != 0) std::memcpy(out, request->out.data(), bytes);
  if (returned != nullptr) *returned = bytes;
  CloseHandle(done);
  delete request;
  return ok;
}

}  // namespace

const char* LastOpenFailure() { return tOpenFailure; }

DeviceHandle OpenDevice(const char* name) {
  tOpenFailure[0] = '\0';
  if (name == nullptr) return OpenFailed("no name");
  if (std::shared_ptr<DeviceDriver> driver = FindRegisteredDevice(DeviceObjectName(name))) {
    DeviceHandle device = OpenInProcess(*driver);
    return device != nullptr ? device : OpenFailed("the device object refused the open");
  }
  char pipeName[512];
  bool redirected = RedirectedPipeName(name, pipeName, sizeof pipeName);
  HANDLE handle = redirected ? OpenRedirectedPipe(pipeName) : OpenDeviceObject(name);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    std::snprintf(tOpenFailure, sizeof tOpenFailure, "%s (Win32 error %lu)",
                  error == ERROR_FILE_NOT_FOUND ? "no such device object" : "CreateFileA failed",
                  static_cast<unsigned long>(error));
    return nullptr;
  }
  auto* device = new (std::nothrow) DeviceObject;
  if (device == nullptr) {
    CloseHandle(handle);
    return OpenFailed("out of memory");
  }
  device->handle = handle;
  return device;
}

bool CloseDevice(DeviceHandle device) {
  if (device == nullptr) return false;
  bool closed = true;
  if (device->connection != nullptr) {
    CloseInProcess(device);
  } else {
    // Transfers still in flight are given up: when the close cancels them
    // (or a driver completes them anyway) nothing reaches their buffers.
    DetachTransfers(device);
    closed = CloseHandle(device->handle) != 0;
  }
  delete device;
  return closed;
}

bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                CompletionRoutine routine) {
  if (device == nullptr || io == nullptr || routine == nullptr) return false;
  if (data == nullptr && length != 0) return false;
  if (device->connection != nullptr)
    return StartInProcess(device, true, data, nullptr, length, io, routine);
  return StartReal(device, true, data, nullptr, length, io, routine);
}

bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
               CompletionRoutine routine) {
  if (device == nullptr || io == nullptr || routine == nullptr) return false;
  if (data == nullptr && length != 0) return false;
  auto* target = static_cast<uint8_t*>(data);
  if (device->connection != nullptr)
    return StartInProcess(device, false, nullptr, target, length, io, routine);
  return StartReal(device, false, nullptr, target, length, io, routine);
}

bool CancelIo(DeviceHandle device) {
  if (device == nullptr) return false;
  if (device->connection != nullptr) {
    CancelInProcess(device);
    return true;
  }
  GiveUpTransfers(device);
  return ::CancelIo(device->handle) != 0;
}

bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength, void* out,
                   uint32_t outLength, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (device == nullptr) return false;
  if (device->connection != nullptr)
    return ControlInProcess(device, code, in, inLength, out, outLength, returned);
  return ControlReal(device, code, in, inLength, out, outLength, returned);
}

WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) {
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    uint64_t nextAnswer = QueueDueInProcessCompletions();
    ULONGLONG now = GetTickCount64();
    ULONGLONG until = std::min<ULONGLONG>(deadline, nextAnswer);
    DWORD slice = until > now ? static_cast<DWORD>(until - now) : 0;
    DWORD result = WaitForSingleObjectEx(reinterpret_cast<HANDLE>(event), slice, TRUE);
    if (result == WAIT_OBJECT_0) return WaitResult::kSignaled;
    if (result == WAIT_IO_COMPLETION) return WaitResult::kIoCompletion;
    if (result != WAIT_TIMEOUT) return WaitResult::kFailed;
    if (GetTickCount64() >= deadline) return WaitResult::kTimeout;
  }
}

}  // namespace orvik::os::win32
