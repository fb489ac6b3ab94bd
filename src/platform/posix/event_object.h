// Manual-reset events on POSIX: the completion event of the device session
// and the events hosts create through orvik/posix.h are the same object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/os.h"

namespace orvik::os {

struct EventObject {
  std::mutex mutex;
  std::condition_variable changed;
  bool signaled = false;

  void Set();
  void Reset();
  bool IsSet();
  // Waits until signalled or until the deadline (monotonic milliseconds);
  // true when signalled.
  bool WaitUntil(uint64_t deadlineMs);
};

uint64_t PosixMonotonicMilliseconds();

}  // namespace orvik::os
