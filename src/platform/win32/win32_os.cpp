// The OS seam on Windows: the Win32 calls the library was designed around.
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/host_event.h"
#include "platform/os.h"
#include "platform/registry_export.h"
#include "platform/win32/device_channel.h"

namespace orvik::os {
namespace {

// The platform query hands GetVersionExA the 148-byte record of the
// original interface.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is the 148-byte record");

HANDLE AsHandle(EventHandle event) { return reinterpret_cast<HANDLE>(event); }

class Win32Os final : public Os {
 public:
  PlatformVersion GetPlatformVersion() override {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (ok == 0) return PlatformVersion{};
    return PlatformVersion{true, info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
  }

  DeviceHandle OpenDevice(const char* name) override { return win32::OpenDevice(name); }
  const char* LastOpenFailure() override { return win32::LastOpenFailure(); }
  bool CloseDevice(DeviceHandle device) override { return win32::CloseDevice(device); }
  bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                  CompletionRoutine routine) override {
    return win32::StartWrite(device, data, length, io, routine);
  }
  bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
                 CompletionRoutine routine) override {
    return win32::StartRead(device, data, length, io, routine);
  }
  bool CancelIo(DeviceHandle device) override { return win32::CancelIo(device); }
  bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                     void* out, uint32_t outLength, uint32_t* returned) override {
    return win32::DeviceControl(device, code, in, inLength, out, outLength, returned);
  }

  EventHandle NewEvent() override {
    return reinterpret_cast<EventHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  }
  bool SetEvent(EventHandle event) override { return ::SetEvent(AsHandle(event)) != 0; }
  bool ResetEvent(EventHandle event) override { return ::ResetEvent(AsHandle(event)) != 0; }
  bool CloseEvent(EventHandle event) override {
    return event != nullptr && CloseHandle(AsHandle(event)) != 0;
  }
  WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) override {
    return win32::WaitAlertable(event, milliseconds);
  }
  WaitResult WaitEvent(EventHandle event, uint32_t milliseconds) override {
    DWORD result = WaitForSingleObject(AsHandle(event), milliseconds);
    if (result == WAIT_OBJECT_0) return WaitResult::kSignaled;
    if (result == WAIT_TIMEOUT) return WaitResult::kTimeout;
    return WaitResult::kFailed;
  }

  void* AllocatePages(size_t size) override {
    if (size == 0) return nullptr;
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  }
  void FreePages(void* pages) override {
    if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
  }

  LockHandle CreateLock() override {
    auto* section = new (std::nothrow) CRITICAL_SECTION;
    if (section == nullptr) return nullptr;
    InitializeCriticalSection(section);
    return reinterpret_cast<LockHandle>(section);
  }
  void EnterLock(LockHandle lock) override {
    EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(lock));
  }
  void LeaveLock(LockHandle lock) override {
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(lock));
  }
  void DeleteLock(LockHandle lock) override {
    if (lock == nullptr) return;
    auto* section = reinterpret_cast<CRITICAL_SECTION*>(lock);
    DeleteCriticalSection(section);
    delete section;
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
  uint64_t MonotonicMilliseconds() override { return GetTickCount64(); }
  bool TraceEnabled() override {
    char value[8] = {};
    DWORD length = GetEnvironmentVariableA("ORVIK_DEBUG", value, sizeof value);
    if (length == 0) return false;
    return length >= sizeof value || !(value[0] == '0' && value[1] == '\0');
  }

  void DebugOutput(const char* text) override {
    if (text != nullptr) OutputDebugStringA(text);
  }

  // The value is read into a 4-byte buffer and its type is not examined:
  // anything that fits reads as its first four bytes, anything larger fails.
  RegistryDword ReadReservedKilobytes() override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kReservationSubKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
      return RegistryDword{};
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, kReservationValue, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return RegistryDword{};
    return RegistryDword{true, static_cast<uint32_t>(value)};
  }
};

}  // namespace

// On Windows the host's event is a Win32 event handle.
EventHandle EventFromHost(void* hostEvent) { return reinterpret_cast<EventHandle>(hostEvent); }

Os& PlatformOs() {
  static Win32Os* os = new Win32Os;  // never destroyed: usable during exit
  return *os;
}

}  // namespace orvik::os
