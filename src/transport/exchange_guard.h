// The session lock: one exchange with the player at a time.
//
// An exchange is everything that belongs together on the device's stream: a
// command frame, its data block or its reply, or one control request.  The
// player's firmware takes a frame and then expects exactly its data or
// reply, so two threads whose transfers interleave break both exchanges.
// Every place that composes an exchange holds an ExchangeGuard for it; the
// lock is recursive, so an exchange may be built from guarded steps.
//
// Lock order: the global lock (api/global_lock.h) before the session lock,
// never the reverse.  Nothing that holds an ExchangeGuard waits for the
// global lock or for the host's event.
#pragma once

namespace orvik::transport {

class ExchangeGuard {
 public:
  ExchangeGuard();
  ~ExchangeGuard();
  ExchangeGuard(const ExchangeGuard&) = delete;
  ExchangeGuard& operator=(const ExchangeGuard&) = delete;
};

}  // namespace orvik::transport
