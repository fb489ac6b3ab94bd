// The session lock.
#include "transport/exchange_guard.h"

#include "platform/os.h"

namespace orvik::transport {
namespace {

// Exists for the whole process, like the global lock, so that exchanges
// before an open or after a close are safe; they then fail on the missing
// session.
os::LockHandle SessionLock() {
  static os::LockHandle lock = os::PlatformOs().CreateLock();
  return lock;
}

}  // namespace

ExchangeGuard::ExchangeGuard() {
  if (os::LockHandle lock = SessionLock()) os::TheOs().EnterLock(lock);
}

ExchangeGuard::~ExchangeGuard() {
  if (os::LockHandle lock = SessionLock()) os::TheOs().LeaveLock(lock);
}

}  // namespace orvik::transport
