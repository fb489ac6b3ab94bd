// Bookkeeping of the transfers in flight on Windows.
#include "platform/win32/transfer_record.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <new>

#include "platform/device_driver.h"

namespace orvik::os::win32 {
namespace {

// Records are touched by their own thread (start, completion) and by any
// thread that closes their device, so the list and the flags are locked.
struct InFlight {
  std::mutex mutex;
  std::list<TransferRecord*> records;
};

// In static storage, never destroyed: APCs may run during exit, and the
// first transfer allocates nothing for it.
InFlight& TheInFlight() {
  alignas(InFlight) static unsigned char storage[sizeof(InFlight)];
  static InFlight* inFlight = new (storage) InFlight;
  return *inFlight;
}

}  // namespace

TransferRecord* NewTransfer(DeviceObject* device, bool inProcess, AsyncIo* io,
                            CompletionRoutine routine, uint8_t* target, const void* writeData,
                            uint32_t length) {
  auto* record = new (std::nothrow) TransferRecord;
  if (record == nullptr) return nullptr;
  try {
    // Never empty, so that the driver always gets a valid address.
    record->staging.assign(std::max<uint32_t>(length, 1), 0);
  } catch (const std::bad_alloc&) {
    delete record;
    return nullptr;
  }
  if (writeData != nullptr && length != 0) std::memcpy(record->staging.data(), writeData, length);
  record->io = io;
  record->routine = routine;
  record->device = device;
  record->thread = GetCurrentThreadId();
  record->target = target;
  record->length = length;
  record->inProcess = inProcess;
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  try {
    inFlight.records.push_back(record);
  } catch (const std::bad_alloc&) {
    delete record;
    return nullptr;
  }
  return record;
}

void SetInProcessAnswer(TransferRecord* record, uint32_t error, uint32_t count, uint64_t readyAt) {
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  record->error = error;
  record->count = count;
  record->readyAt = readyAt;
}

void DiscardTransfer(TransferRecord* record) {
  InFlight& inFlight = TheInFlight();
  {
    std::lock_guard<std::mutex> guard(inFlight.mutex);
    inFlight.records.remove(record);
  }
  delete record;
}

void CompleteTransfer(TransferRecord* record, uint32_t error, uint32_t bytes) {
  bool givenUp = false;
  InFlight& inFlight = TheInFlight();
  {
    std::lock_guard<std::mutex> guard(inFlight.mutex);
    inFlight.records.remove(record);
    givenUp = record->givenUp;
  }
  if (givenUp) {
    error = kErrorOperationAborted;
    bytes = 0;
  } else if (record->target != nullptr) {
    std::memcpy(record->target, record->staging.data(), std::min(bytes, record->length));
  }
  CompletionRoutine routine = record->routine;
  AsyncIo* io = record->io;
  delete record;
  routine(error, bytes, io);
}

void GiveUpTransfers(DeviceObject* device) {
  DWORD thread = GetCurrentThreadId();
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  for (TransferRecord* record : inFlight.records) {
    if (record->device == device && record->thread == thread) record->givenUp = true;
  }
}

void DetachTransfers(DeviceObject* device) {
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  for (TransferRecord* record : inFlight.records) {
    if (record->device != device) continue;
    record->givenUp = true;
    record->device = nullptr;
  }
}

size_t TakeDueInProcessTransfers(uint64_t now, TransferRecord** due, size_t capacity) {
  DWORD thread = GetCurrentThreadId();
  size_t taken = 0;
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  for (TransferRecord* record : inFlight.records) {
    if (taken == capacity) break;
    if (!record->inProcess || record->queued || record->thread != thread) continue;
    if (record->givenUp || record->readyAt <= now) {
      record->queued = true;
      due[taken++] = record;
    }
  }
  return taken;
}

uint64_t NextInProcessCompletion() {
  DWORD thread = GetCurrentThreadId();
  uint64_t next = kNever;
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  for (TransferRecord* record : inFlight.records) {
    if (record->inProcess && !record->queued && record->thread == thread)
      next = std::min(next, record->givenUp ? 0 : record->readyAt);
  }
  return next;
}

void RequeueLater(TransferRecord* record) {
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  record->queued = false;
}

size_t TransfersInFlight() {
  InFlight& inFlight = TheInFlight();
  std::lock_guard<std::mutex> guard(inFlight.mutex);
  return inFlight.records.size();
}

}  // namespace orvik::os::win32
