// An OS seam for tests: forwards every call to the platform's implementation
// and can fail, record or fake any of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace orvik::testing {

class TestOs : public os::Os {
 public:
  TestOs();
  ~TestOs() override;

  // --- knobs -------------------------------------------------------------
  // Fail the Nth page allocation from now (1-based); 0: never.
  void FailAllocationNumber(uint64_t n) { failAllocationAt_ = allocations_ + n; }
  bool failAllAllocations = false;
  bool failCreateEvent = false;
  bool failStartTransfers = false;
  // CancelIo is counted but not passed on, as with a driver that cannot
  // cancel: the transfer then completes late, in a later alertable wait.
  bool ignoreCancel = false;
  // Control requests with these codes fail before they reach the device.
  std::vector<uint32_t> failingControlCodes;
  // Sleeps are recorded and not slept (reconfigure pauses, for example).
  bool fakeSleep = true;
  std::optional<os::PlatformVersion> platformVersion;
  std::optional<os::RegistryDword> registry;  // overrides the registry file
  bool traceEnabled = false;                  // true: failure lines reach debugText
  // Overrides the result of alertable waits (after running the real one
  // with a zero limit) when set.
  std::function<std::optional<os::WaitResult>()> waitOverride;

  // --- observations -------------------------------------------------------
  std::vector<std::string> openedNames;  // every name tried
  std::vector<uint32_t> sleeps;
  std::string debugText;
  uint64_t Allocations() const { return allocations_; }
  size_t LiveAllocations() const;
  int cancelCount = 0;
  std::atomic<int> eventWaits{0};  // waits on events other than the completion event

  // --- the seam -------------------------------------------------------------
  os::PlatformVersion GetPlatformVersion() override;
  os::DeviceHandle OpenDevice(const char* name) override;
  bool CloseDevice(os::DeviceHandle device) override;
  bool StartWrite(os::DeviceHandle device, const void* data, uint32_t length, os::AsyncIo* io,
                  os::CompletionRoutine routine) override;
  bool StartRead(os::DeviceHandle device, void* data, uint32_t length, os::AsyncIo* io,
                 os::CompletionRoutine routine) override;
  bool CancelIo(os::DeviceHandle device) override;
  bool DeviceControl(os::DeviceHandle device, uint32_t code, const void* in, uint32_t inLength,
                     void* out, uint32_t outLength, uint32_t* returned) override;
  os::EventHandle NewEvent() override;
  bool SetEvent(os::EventHandle event) override;
  bool ResetEvent(os::EventHandle event) override;
  bool CloseEvent(os::EventHandle event) override;
  os::WaitResult WaitAlertable(os::EventHandle event, uint32_t milliseconds) override;
  os::WaitResult WaitEvent(os::EventHandle event, uint32_t milliseconds) override;
  void* AllocatePages(size_t size) override;
  void FreePages(void* pages) override;
  os::LockHandle CreateLock() override;
  void EnterLock(os::LockHandle lock) override;
  void LeaveLock(os::LockHandle lock) override;
  void DeleteLock(os::LockHandle lock) override;
  void Sleep(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;
  void DebugOutput(const char* text) override;
  bool TraceEnabled() override;
  os::RegistryDword ReadReservedKilobytes() override;

 private:
  os::Os& real_;
  os::ScopedOsOverride override_;
  mutable std::mutex mutex_;
  uint64_t allocations_ = 0;
  uint64_t failAllocationAt_ = 0;
  std::set<void*> live_;
};

}  // namespace orvik::testing
