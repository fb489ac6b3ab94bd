// The heap of this test program, replaced so that a test can fail one
// allocation of the library in turn: operator new (every form) counts the
// allocations the calling thread makes while armed and fails the chosen
// one, by throwing std::bad_alloc or, for the nothrow forms, returning
// nullptr.  Allocations inside device code (a test device standing in for
// the player's driver) are neither counted nor failed.
#pragma once

#include <cstdint>

namespace orvik::testing::heap {

// Counts from now; the failAt-th allocation fails (0: none).
void Arm(uint64_t failAt);
// Stops counting; returns the number of allocations counted.
uint64_t Disarm();
// Blocks allocated and not yet freed, by any thread.
int64_t LiveBlocks();

// Marks the scope as device code.
class DeviceCode {
 public:
  DeviceCode();
  ~DeviceCode();
  DeviceCode(const DeviceCode&) = delete;
  DeviceCode& operator=(const DeviceCode&) = delete;
};

}  // namespace orvik::testing::heap
