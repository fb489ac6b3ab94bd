// The test OS seam.
#include "support/test_os.h"

#include <algorithm>

namespace orvik::testing {

TestOs::TestOs() : real_(os::PlatformOs()), override_(*this) {}

TestOs::~TestOs() = default;

size_t TestOs::LiveAllocations() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return live_.size();
}

os::PlatformVersion TestOs::GetPlatformVersion() {
  return platformVersion ? *platformVersion : real_.GetPlatformVersion();
}

os::DeviceHandle TestOs::OpenDevice(const char* name) {
  openedNames.push_back(name);
  return real_.OpenDevice(name);
}

bool TestOs::CloseDevice(os::DeviceHandle device) { return real_.CloseDevice(device); }

bool TestOs::StartWrite(os::DeviceHandle device, const void* data, uint32_t length, os::AsyncIo* io,
                        os::CompletionRoutine routine) {
  if (failStartTransfers) return false;
  return real_.StartWrite(device, data, length, io, routine);
}

bool TestOs::StartRead(os::DeviceHandle device, void* data, uint32_t length, os::AsyncIo* io,
                       os::CompletionRoutine routine) {
  if (failStartTransfers) return false;
  return real_.StartRead(device, data, length, io, routine);
}

bool TestOs::CancelIo(os::DeviceHandle device) {
  ++cancelCount;
  if (ignoreCancel) return true;
  return real_.CancelIo(device);
}

bool TestOs::DeviceControl(os::DeviceHandle device, uint32_t code, const void* in,
                           uint32_t inLength, void* out, uint32_t outLength, uint32_t* returned) {
  if (std::find(failingControlCodes.begin(), failingControlCodes.end(), code) !=
      failingControlCodes.end()) {
    if (returned != nullptr) *returned = 0;
    return false;
  }
  return real_.DeviceControl(device, code, in, inLength, out, outLength, returned);
}

os::EventHandle TestOs::NewEvent() {
  if (failCreateEvent) return nullptr;
  return real_.NewEvent();
}

bool TestOs::SetEvent(os::EventHandle event) { return real_.SetEvent(event); }
bool TestOs::ResetEvent(os::EventHandle event) { return real_.ResetEvent(event); }
bool TestOs::CloseEvent(os::EventHandle event) { return real_.CloseEvent(event); }

os::WaitResult TestOs::WaitAlertable(os::EventHandle event, uint32_t milliseconds) {
  if (waitOverride) {
    if (auto forced = waitOverride()) return *forced;
  }
  return real_.WaitAlertable(event, milliseconds);
}

os::WaitResult TestOs::WaitEvent(os::EventHandle event, uint32_t milliseconds) {
  ++eventWaits;
  return real_.WaitEvent(event, milliseconds);
}

void* TestOs::AllocatePages(size_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  ++allocations_;
  if (failAllAllocations || (failAllocationAt_ != 0 && allocations_ == failAllocationAt_))
    return nullptr;
  void* pages = real_.AllocatePages(size);
  if (pages != nullptr) live_.insert(pages);
  return pages;
}

void TestOs::FreePages(void* pages) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    live_.erase(pages);
  }
  real_.FreePages(pages);
}

os::LockHandle TestOs::CreateLock() { return real_.CreateLock(); }
void TestOs::EnterLock(os::LockHandle lock) { real_.EnterLock(lock); }
void TestOs::LeaveLock(os::LockHandle lock) { real_.LeaveLock(lock); }
void TestOs::DeleteLock(os::LockHandle lock) { real_.DeleteLock(lock); }

void TestOs::Sleep(uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  if (!fakeSleep) real_.Sleep(milliseconds);
}

uint64_t TestOs::MonotonicMilliseconds() { return real_.MonotonicMilliseconds(); }

void TestOs::DebugOutput(const char* text) {
  if (text != nullptr) debugText += text;
  real_.DebugOutput(text);
}

bool TestOs::TraceEnabled() { return traceEnabled; }

os::RegistryDword TestOs::ReadReservedKilobytes() {
  return registry ? *registry : real_.ReadReservedKilobytes();
}

}  // namespace orvik::testing
