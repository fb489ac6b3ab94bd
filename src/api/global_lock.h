// The global lock that serialises the library's public operations.
//
// It is a recursive lock (a critical section: the holding thread may enter
// again) that exists for the whole life of the process, so a locking export
// called before any open, or after a failed one, is safe.
#pragma once

namespace orvik::api {

void EnterGlobalLock();
void LeaveGlobalLock();

class GlobalLockGuard {
 public:
  GlobalLockGuard() { EnterGlobalLock(); }
  ~GlobalLockGuard() { LeaveGlobalLock(); }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
};

}  // namespace orvik::api
