// The OS seam: everything the library needs from the operating system.
//
// Nothing outside src/platform includes an OS header; every OS call goes
// through the Os interface below.  Each platform supplies one implementation
// (win32/ or posix/).  Tests install a wrapper (ScopedOsOverride) that forwards
// to the real implementation and fails, records or fakes any single call.
//
// The device channel mirrors the Win32 model the library was designed
// around: a device object opened by name, overlapped writes and reads whose
// completion routine runs on the starting thread inside an alertable wait,
// cancellation, and synchronous control requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device_driver.h"

namespace orvik::os {

struct DeviceObject;
using DeviceHandle = DeviceObject*;  // nullptr: no device (INVALID_HANDLE_VALUE)
struct EventObject;
using EventHandle = EventObject*;  // nullptr: no event
struct LockObject;
using LockHandle = LockObject*;

struct AsyncIo;
// Runs on the thread that started the transfer, inside its alertable wait.
// error: 0 or a Win32 error number; bytes: the number of bytes moved.
using CompletionRoutine = void (*)(uint32_t error, uint32_t bytes, AsyncIo* io);

// The overlapped record of one transfer.  The OS part is private to the
// platform implementation (on Windows an OVERLAPPED lives in it).
struct AsyncIo {
  alignas(8) unsigned char osPart[64];
  uint32_t offset = 0;
  uint32_t offsetHigh = 0;
  uintptr_t scratch = 0;  // request size before the transfer, result after
  void* owner = nullptr;  // free for the caller
};

enum class WaitResult {
  kSignaled,      // the event was signalled
  kTimeout,       // the limit passed
  kIoCompletion,  // an alertable wait ran one or more completion routines
  kFailed,        // the wait itself failed
};

// Win32 platform identifiers as GetVersionExA reports them.
constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformNt = 2;

struct PlatformVersion {
  bool ok = false;
  uint32_t platformId = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
};

struct RegistryDword {
  bool found = false;  // key opened and value read
  uint32_t value = 0;
};

class Os {
 public:
  virtual ~Os() = default;

  // GetVersionExA with a zeroed 148-byte record.
  virtual PlatformVersion GetPlatformVersion() = 0;

  // Device channel.  name is the full object name, e.g. "\\.\TEMBROr0".
  // Opened for reading and writing, shared for reading only, overlapped.
  virtual DeviceHandle OpenDevice(const char* name) = 0;
  virtual bool CloseDevice(DeviceHandle device) = 0;
  // Start an overlapped transfer; false when it could not be started (no
  // completion routine will run then).
  virtual bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                          CompletionRoutine routine) = 0;
  virtual bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
                         CompletionRoutine routine) = 0;
  // Cancels the transfers the calling thread started on the device; their
  // completion routines still run (with kErrorOperationAborted) in a later
  // alertable wait.
  virtual bool CancelIo(DeviceHandle device) = 0;
  // Synchronous control request (DeviceIoControl without an overlapped record).
  virtual bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                             void* out, uint32_t outLength, uint32_t* returned) = 0;

  // Manual-reset events.  On POSIX an EventHandle is also what a host passes
  // as its event (OrvikPosixEvent); on Windows both are event HANDLEs.
  virtual EventHandle NewEvent() = 0;
  virtual bool SetEvent(EventHandle event) = 0;
  virtual bool ResetEvent(EventHandle event) = 0;
  virtual bool CloseEvent(EventHandle event) = 0;
  // WaitForSingleObjectEx(event, ms, TRUE): runs pending completion routines.
  virtual WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) = 0;
  // WaitForSingleObject(event, ms).
  virtual WaitResult WaitEvent(EventHandle event, uint32_t milliseconds) = 0;

  // Page-granular allocation (reserve and commit, read/write); zero-filled.
  virtual void* AllocatePages(size_t size) = 0;
  virtual void FreePages(void* pages) = 0;

  // Recursive lock (a critical section).
  virtual LockHandle CreateLock() = 0;
  virtual void EnterLock(LockHandle lock) = 0;
  virtual void LeaveLock(LockHandle lock) = 0;
  virtual void DeleteLock(LockHandle lock) = 0;

  virtual void Sleep(uint32_t milliseconds) = 0;
  // Milliseconds of a monotonic clock.
  virtual uint64_t MonotonicMilliseconds() = 0;
  // OutputDebugStringA.
  virtual void DebugOutput(const char* text) = 0;
  // True when ORVIK_DEBUG is set to a non-empty value other than "0": the
  // library then explains every failure it returns in one debug line.
  virtual bool TraceEnabled() = 0;
  // HKLM "SOFTWARE\Halvern\Halvern TEMBRO Player\Params", value
  // "TotalKiloBytesReserved", read with a 4-byte buffer at every call.
  virtual RegistryDword ReadReservedKilobytes() = 0;
};

// The platform's own implementation.
Os& PlatformOs();
// The implementation in use: the platform's, or a test's override.
Os& TheOs();

// Installs an override for the lifetime of the object (tests only).
class ScopedOsOverride {
 public:
  explicit ScopedOsOverride(Os& replacement);
  ~ScopedOsOverride();
  ScopedOsOverride(const ScopedOsOverride&) = delete;
  ScopedOsOverride& operator=(const ScopedOsOverride&) = delete;

 private:
  Os* previous_;
};

}  // namespace orvik::os
