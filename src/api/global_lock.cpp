// The global lock.
#include "api/global_lock.h"

#include "api/library_context.h"
#include "platform/os.h"

namespace orvik::api {

void EnterGlobalLock() {
  if (os::LockHandle lock = Context().GlobalLock()) os::TheOs().EnterLock(lock);
}

void LeaveGlobalLock() {
  if (os::LockHandle lock = Context().GlobalLock()) os::TheOs().LeaveLock(lock);
}

}  // namespace orvik::api
