// The OS seam for fuzz targets: forwards to the platform's implementation,
// counts the pages and events the library holds (so a target can check that
// every path gives them back), skips sleeps, reads the reservation from the
// input and keeps the debug output quiet.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace orvik::fuzzing {

class FuzzOs : public os::Os {
 public:
  FuzzOs() : real_(os::PlatformOs()), override_(*this) {}

  uint32_t reservedKilobytes = 0;
  int64_t livePages = 0;
  int64_t liveEvents = 0;

  os::PlatformVersion GetPlatformVersion() override { return {true, os::kPlatformNt, 5, 1}; }
  os::DeviceHandle OpenDevice(const char* name) override { return real_.OpenDevice(name); }
  const char* LastOpenFailure() override { return real_.LastOpenFailure(); }
  bool CloseDevice(os::DeviceHandle device) override { return real_.CloseDevice(device); }
  bool StartWrite(os::DeviceHandle device, const void* data, uint32_t length, os::AsyncIo* io,
                  os::CompletionRoutine routine) override {
    return real_.StartWrite(device, data, length, io, routine);
  }
  bool StartRead(os::DeviceHandle device, void* data, uint32_t length, os::AsyncIo* io,
                 os::CompletionRoutine routine) override {
    return real_.StartRead(device, data, length, io, routine);
  }
  bool CancelIo(os::DeviceHandle device) override { return real_.CancelIo(device); }
  bool DeviceControl(os::DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                     void* out, uint32_t outLength, uint32_t* returned) override {
    return real_.DeviceControl(device, code, in, inLength, out, outLength, returned);
  }
  os::EventHandle NewEvent() override {
    os::EventHandle event = real_.NewEvent();
    if (event != nullptr) ++liveEvents;
    return event;
  }
  bool SetEvent(os::EventHandle event) override { return real_.SetEvent(event); }
  bool ResetEvent(os::EventHandle event) override { return real_.ResetEvent(event); }
  bool CloseEvent(os::EventHandle event) override {
    if (event != nullptr) --liveEvents;
    return real_.CloseEvent(event);
  }
  os::WaitResult WaitAlertable(os::EventHandle event, uint32_t milliseconds) override {
    return real_.WaitAlertable(event, milliseconds);
  }
  os::WaitResult WaitEvent(os::EventHandle event, uint32_t milliseconds) override {
    return real_.WaitEvent(event, milliseconds);
  }
  void* AllocatePages(size_t size) override {
    void* pages = real_.AllocatePages(size);
    if (pages != nullptr) ++livePages;
    return pages;
  }
  void FreePages(void* pages) override {
    if (pages != nullptr) --livePages;
    real_.FreePages(pages);
  }
  os::LockHandle CreateLock() override { return real_.CreateLock(); }
  void EnterLock(os::LockHandle lock) override { real_.EnterLock(lock); }
  void LeaveLock(os::LockHandle lock) override { real_.LeaveLock(lock); }
  void DeleteLock(os::LockHandle lock) override { real_.DeleteLock(lock); }
  void Sleep(uint32_t) override {}  // the reconfigure pauses would only slow the fuzzer
  uint64_t MonotonicMilliseconds() override { return real_.MonotonicMilliseconds(); }
  void DebugOutput(const char*) override {}
  bool TraceEnabled() override { return tracing; }
  os::RegistryDword ReadReservedKilobytes() override { return {true, reservedKilobytes}; }

  bool tracing = false;  // failure lines are formatted (and dropped) when set

 private:
  os::Os& real_;
  os::ScopedOsOverride override_;
};

}  // namespace orvik::fuzzing
