// Manual-reset events and the host event helpers of orvik/posix.h.
#include "platform/posix/event_object.h"

#include <chrono>
#include <new>

#include "orvik/posix.h"
#include "platform/host_event.h"

namespace orvik::os {

uint64_t PosixMonotonicMilliseconds() {
  using Clock = std::chrono::steady_clock;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
          .count());
}

void EventObject::Set() {
  std::lock_guard<std::mutex> guard(mutex);
  signaled = true;
  changed.notify_all();
}

void EventObject::Reset() {
  std::lock_guard<std::mutex> guard(mutex);
  signaled = false;
}

bool EventObject::IsSet() {
  std::lock_guard<std::mutex> guard(mutex);
  return signaled;
}

bool EventObject::WaitUntil(uint64_t deadlineMs) {
  std::unique_lock<std::mutex> lock(mutex);
  while (!signaled) {
    uint64_t now = PosixMonotonicMilliseconds();
    if (now >= deadlineMs) return false;
    changed.wait_for(lock, std::chrono::milliseconds(deadlineMs - now));
  }
  return true;
}

}  // namespace orvik::os

struct OrvikPosixEvent {
  orvik::os::EventObject object;
};

namespace orvik::os {

EventHandle EventFromHost(void* hostEvent) {
  if (hostEvent == nullptr) return nullptr;
  return &static_cast<OrvikPosixEvent*>(hostEvent)->object;
}

}  // namespace orvik::os

extern "C" {

ORVIK_API OrvikPosixEvent* ORVIK_CALL OrvikPosixEventCreate(void) {
  return new (std::nothrow) OrvikPosixEvent;
}

ORVIK_API int ORVIK_CALL OrvikPosixEventSet(OrvikPosixEvent* event) {
  if (event == nullptr) return 0;
  event->object.Set();
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikPosixEventReset(OrvikPosixEvent* event) {
  if (event == nullptr) return 0;
  event->object.Reset();
  return 1;
}

ORVIK_API void ORVIK_CALL OrvikPosixEventClose(OrvikPosixEvent* event) { delete event; }

}  // extern "C"
