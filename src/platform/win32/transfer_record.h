// The transfers in flight on Windows, and how their completions reach the
// caller's routine.
//
// A transfer that is given up (CancelIo, or its device closed) may still
// complete later: the completion routine runs in a later alertable wait, and
// a driver that cannot cancel may even complete it with data.  The caller has
// moved on by then and may have freed or reused its buffer.  So every
// transfer moves its bytes through a staging buffer of its own, owned here
// until its routine has run: read data is copied to the caller only when the
// transfer completes without having been given up, and a given-up transfer
// reports kErrorOperationAborted with no bytes, whatever the driver said.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/os.h"

namespace orvik::os::win32 {

struct TransferRecord {
  OVERLAPPED overlapped{};  // the kernel hands this address back on completion
  AsyncIo* io = nullptr;
  CompletionRoutine routine = nullptr;
  DeviceObject* device = nullptr;  // nullptr once the device is closed
  DWORD thread = 0;                // the thread whose alertable waits run the routine
  uint8_t* target = nullptr;       // the caller's read buffer; nullptr for writes
  uint32_t length = 0;
  std::vector<uint8_t> staging;  // what the driver reads from or writes into
  bool givenUp = false;

  // In-process transfers: the driver's answer and when it is due.
  bool inProcess = false;
  bool queued = false;  // handed to the thread as an APC
  uint32_t error = 0;
  uint32_t count = 0;
  uint64_t readyAt = UINT64_MAX;  // GetTickCount64 time of completion
};

inline constexpr uint64_t kNever = UINT64_MAX;

// A new record registered as in flight for the calling thread, with a
// staging buffer of length bytes (holding data for writes); nullptr when
// memory runs out.
TransferRecord* NewTransfer(DeviceObject* device, bool inProcess, AsyncIo* io,
                            CompletionRoutine routine, uint8_t* target, const void* writeData,
                            uint32_t length);
// Records an in-process driver's answer, due at readyAt (kNever: never).
void SetInProcessAnswer(TransferRecord* record, uint32_t error, uint32_t count, uint64_t readyAt);
// Forgets a record whose transfer could not be started.
void DiscardTransfer(TransferRecord* record);

// Ends the transfer: removes the record, copies read data to the caller
// unless the transfer was given up, runs the routine and frees the record.
// Runs on the record's thread.
void CompleteTransfer(TransferRecord* record, uint32_t error, uint32_t bytes);

// Gives up the calling thread's transfers on the device (CancelIo).
void GiveUpTransfers(DeviceObject* device);
// Gives up every transfer on the device, of any thread (the device closes).
void DetachTransfers(DeviceObject* device);

// Up to capacity in-process transfers of the calling thread whose answer is
// due (or that were given up) and that are not queued yet, into due; they
// are marked queued.  Returns how many were taken.
size_t TakeDueInProcessTransfers(uint64_t now, TransferRecord** due, size_t capacity);
// The earliest completion time of the calling thread's unqueued in-process
// transfers, kNever when there is none.
uint64_t NextInProcessCompletion();
// Puts a taken record back (its APC could not be queued).
void RequeueLater(TransferRecord* record);

// Records in flight (for tests and diagnostics).
size_t TransfersInFlight();

}  // namespace orvik::os::win32
