// The global lock.
#include "api/global_lock.h"

#include "platform/os.h"

namespace orvik::api {
namespace {

os::LockHandle TheLock() {
  static os::LockHandle lock = os::PlatformOs().CreateLock();  // lives until the process ends
  return lock;
}

}  // namespace

void EnterGlobalLock() {
  if (os::LockHandle lock = TheLock()) os::TheOs().EnterLock(lock);
}

void LeaveGlobalLock() {
  if (os::LockHandle lock = TheLock()) os::TheOs().LeaveLock(lock);
}

}  // namespace orvik::api
