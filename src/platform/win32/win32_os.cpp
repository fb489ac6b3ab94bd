// The OS seam on Windows: the Win32 calls the library was designed around.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/device_driver.h"
#include "platform/host_event.h"
#include "platform/os.h"
#include "platform/registry_export.h"

namespace orvik::os {

// A device handle: a real device object opened with CreateFileA, or a
// driver registered in this process (the player simulator).
struct DeviceObject {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::unique_ptr<DeviceConnection> connection;
  bool broken = false;
  // In-process transfers that have not completed yet (late or stalled).
  struct Pending {
    AsyncIo* io;
    CompletionRoutine routine;
    uint8_t* target;
    uint32_t length;
    uint32_t error;
    uint32_t count;
    uint64_t readyAt;  // 0: never
    std::string data;
  };
  Pending* pending = nullptr;
};

namespace {

static_assert(sizeof(OVERLAPPED) + sizeof(CompletionRoutine) <= sizeof(AsyncIo::osPart),
              "the OS part of AsyncIo holds an OVERLAPPED and the routine");
constexpr size_t kRoutineOffset = 40;

OVERLAPPED* OverlappedOf(AsyncIo* io) { return reinterpret_cast<OVERLAPPED*>(io->osPart); }

void StoreRoutine(AsyncIo* io, CompletionRoutine routine) {
  std::memcpy(io->osPart + kRoutineOffset, &routine, sizeof routine);
}

CompletionRoutine LoadRoutine(AsyncIo* io) {
  CompletionRoutine routine = nullptr;
  std::memcpy(&routine, io->osPart + kRoutineOffset, sizeof routine);
  return routine;
}

VOID CALLBACK CompletionThunk(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  AsyncIo* io = reinterpret_cast<AsyncIo*>(overlapped);  // the OVERLAPPED is at offset 0
  LoadRoutine(io)(error, bytes, io);
}

void PrepareOverlapped(AsyncIo* io, CompletionRoutine routine) {
  OVERLAPPED* overlapped = OverlappedOf(io);
  std::memset(overlapped, 0, sizeof *overlapped);
  overlapped->Offset = io->offset;
  overlapped->OffsetHigh = io->offsetHigh;
  // The design keeps the transfer's scratch word in hEvent, which the
  // completion-routine form of the transfer leaves unused.
  overlapped->hEvent = reinterpret_cast<HANDLE>(io->scratch);
  StoreRoutine(io, routine);
}

// In-process transfers complete through an APC queued to the starting
// thread, so their routines run inside its alertable wait as real I/O does.
struct ApcPacket {
  AsyncIo* io;
  CompletionRoutine routine;
  uint8_t* target;
  uint32_t length;
  uint32_t error;
  uint32_t count;
  std::string data;
};

VOID CALLBACK RunApc(ULONG_PTR parameter) {
  std::unique_ptr<ApcPacket> packet(reinterpret_cast<ApcPacket*>(parameter));
  if (packet->target != nullptr && !packet->data.empty())
    std::memcpy(packet->target, packet->data.data(),
                packet->data.size() < packet->length ? packet->data.size() : packet->length);
  packet->routine(packet->error, packet->count, packet->io);
}

void QueueCompletion(std::unique_ptr<ApcPacket> packet) {
  if (QueueUserAPC(RunApc, GetCurrentThread(), reinterpret_cast<ULONG_PTR>(packet.get())) != 0)
    packet.release();
}

bool StartInProcess(DeviceObject* device, bool isWrite, const uint8_t* data, uint8_t* target,
                    uint32_t length, AsyncIo* io, CompletionRoutine routine) {
  if (device->broken || device->pending != nullptr) return false;
  std::string buffer;
  DeviceAnswer answer;
  if (isWrite) {
    answer = device->connection->Write(data, length);
  } else {
    buffer.assign(length, '\0');
    answer = device->connection->Read(reinterpret_cast<uint8_t*>(&buffer[0]), length);
    buffer.resize(answer.count < length ? answer.count : length);
  }
  if (answer.timing == DeviceAnswer::Timing::kDisconnect) {
    device->broken = true;
    answer.error = kErrorGeneralFailure;
    answer.count = 0;
    buffer.clear();
  }
  if (answer.timing == DeviceAnswer::Timing::kLate ||
      answer.timing == DeviceAnswer::Timing::kNever) {
    uint64_t readyAt = answer.timing == DeviceAnswer::Timing::kNever
                           ? 0
                           : GetTickCount64() + answer.delayMs;
    device->pending = new (std::nothrow) DeviceObject::Pending{
        io, routine, target, length, answer.error, answer.count, readyAt, std::move(buffer)};
    return device->pending != nullptr;
  }
  QueueCompletion(std::unique_ptr<ApcPacket>(new ApcPacket{
      io, routine, target, length, answer.error, answer.count, std::move(buffer)}));
  return true;
}

// A late in-process answer whose time has come is queued like any other.
void ReleaseDuePending(DeviceObject* device, bool cancel) {
  DeviceObject::Pending* pending = device->pending;
  if (pending == nullptr) return;
  bool due = pending->readyAt != 0 && GetTickCount64() >= pending->readyAt;
  if (!due && !cancel) return;
  device->pending = nullptr;
  std::unique_ptr<ApcPacket> packet(new ApcPacket{pending->io, pending->routine, pending->target,
                                                  pending->length, pending->error, pending->count,
                                                  std::move(pending->data)});
  if (!due) {  // cancelled before it completed
    packet->error = kErrorOperationAborted;
    packet->count = 0;
    packet->data.clear();
  }
  delete pending;
  QueueCompletion(std::move(packet));
}

DeviceObject* gInProcessDevices[16] = {};  // for late answers seen by alertable waits

class Win32Os final : public Os {
 public:
  PlatformVersion GetPlatformVersion() override {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 148;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    return PlatformVersion{ok != 0, info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
  }

  DeviceHandle OpenDevice(const char* name) override {
    if (auto driver = FindRegisteredDevice(DeviceObjectName(name))) {
      std::unique_ptr<DeviceConnection> connection = driver->Open();
      if (connection == nullptr) return nullptr;
      auto* device = new (std::nothrow) DeviceObject;
      if (device == nullptr) return nullptr;
      device->connection = std::move(connection);
      for (auto& slot : gInProcessDevices) {
        if (slot == nullptr) {
          slot = device;
          break;
        }
      }
      return device;
    }
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* device = new (std::nothrow) DeviceObject;
    if (device == nullptr) {
      CloseHandle(handle);
      return nullptr;
    }
    device->handle = handle;
    return device;
  }

  bool CloseDevice(DeviceHandle device) override {
    if (device == nullptr) return false;
    bool closed = true;
    if (device->connection != nullptr) {
      ReleaseDuePending(device, true);
      for (auto& slot : gInProcessDevices) {
        if (slot == device) slot = nullptr;
      }
    } else {
      closed = CloseHandle(device->handle) != 0;
    }
    delete device;
    return closed;
  }

  bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                  CompletionRoutine routine) override {
    if (device == nullptr || io == nullptr) return false;
    if (device->connection != nullptr)
      return StartInProcess(device, true, static_cast<const uint8_t*>(data), nullptr, length, io,
                            routine);
    PrepareOverlapped(io, routine);
    return WriteFileEx(device->handle, data, length, OverlappedOf(io), CompletionThunk) != 0;
  }

  bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
                 CompletionRoutine routine) override {
    if (device == nullptr || io == nullptr) return false;
    if (device->connection != nullptr)
      return StartInProcess(device, false, nullptr, static_cast<uint8_t*>(data), length, io,
                            routine);
    PrepareOverlapped(io, routine);
    return ReadFileEx(device->handle, data, length, OverlappedOf(io), CompletionThunk) != 0;
  }

  bool CancelIo(DeviceHandle device) override {
    if (device == nullptr) return false;
    if (device->connection != nullptr) {
      ReleaseDuePending(device, true);
      return true;
    }
    return ::CancelIo(device->handle) != 0;
  }

  bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                     void* out, uint32_t outLength, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    if (device == nullptr) return false;
    if (device->connection != nullptr) {
      if (device->broken) return false;
      DeviceAnswer answer = device->connection->Control(
          code, static_cast<const uint8_t*>(in), inLength, static_cast<uint8_t*>(out), outLength);
      if (answer.timing == DeviceAnswer::Timing::kDisconnect) device->broken = true;
      if (answer.timing != DeviceAnswer::Timing::kNow) return false;
      if (returned != nullptr) *returned = answer.count < outLength ? answer.count : outLength;
      return answer.error == 0;
    }
    DWORD bytes = 0;
    BOOL ok = DeviceIoControl(device->handle, code, const_cast<void*>(in), inLength, out,
                              outLength, &bytes, nullptr);
    if (returned != nullptr) *returned = bytes;
    return ok != 0;
  }

  EventHandle NewEvent() override {
    return reinterpret_cast<EventHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  }
  bool SetEvent(EventHandle event) override {
    return ::SetEvent(reinterpret_cast<HANDLE>(event)) != 0;
  }
  bool ResetEvent(EventHandle event) override {
    return ::ResetEvent(reinterpret_cast<HANDLE>(event)) != 0;
  }
  bool CloseEvent(EventHandle event) override {
    return CloseHandle(reinterpret_cast<HANDLE>(event)) != 0;
  }

  WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) override {
    ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
      for (DeviceObject* device : gInProcessDevices) {
        if (device != nullptr) ReleaseDuePending(device, false);
      }
      ULONGLONG now = GetTickCount64();
      DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      bool latePending = false;
      for (DeviceObject* device : gInProcessDevices) {
        if (device != nullptr && device->pending != nullptr && device->pending->readyAt != 0)
          latePending = true;
      }
      if (latePending && slice > 10) slice = 10;
      DWORD result = WaitForSingleObjectEx(reinterpret_cast<HANDLE>(event), slice, TRUE);
      if (result == WAIT_OBJECT_0) return WaitResult::kSignaled;
      if (result == WAIT_IO_COMPLETION) return WaitResult::kIoCompletion;
      if (result != WAIT_TIMEOUT) return WaitResult::kFailed;
      if (GetTickCount64() >= deadline) return WaitResult::kTimeout;
    }
  }

  WaitResult WaitEvent(EventHandle event, uint32_t milliseconds) override {
    DWORD result = WaitForSingleObject(reinterpret_cast<HANDLE>(event), milliseconds);
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
    auto* section = reinterpret_cast<CRITICAL_SECTION*>(lock);
    DeleteCriticalSection(section);
    delete section;
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
  uint64_t MonotonicMilliseconds() override { return GetTickCount64(); }
  void DebugOutput(const char* text) override {
    if (text != nullptr) OutputDebugStringA(text);
  }

  RegistryDword ReadReservedKilobytes() override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvern\\Halvern TEMBRO Player\\Params", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
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

EventHandle EventFromHost(void* hostEvent) { return reinterpret_cast<EventHandle>(hostEvent); }

Os& PlatformOs() {
  static Win32Os* os = new Win32Os;
  return *os;
}

}  // namespace orvik::os
