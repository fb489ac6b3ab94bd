// In-process device objects on Windows: answers delivered as APCs.
#include "platform/win32/in_process_channel.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "platform/win32/transfer_record.h"

namespace orvik::os::win32 {
namespace {

VOID CALLBACK RunCompletion(ULONG_PTR parameter) {
  auto* record = reinterpret_cast<TransferRecord*>(parameter);
  CompleteTransfer(record, record->error, record->count);
}

// Queues the record's completion to the calling thread, which is the thread
// that started the transfer (records are only queued by their own thread).
void QueueToThisThread(TransferRecord* record) {
  if (QueueUserAPC(RunCompletion, GetCurrentThread(), reinterpret_cast<ULONG_PTR>(record)) == 0)
    RequeueLater(record);  // tried again in the next alertable wait
}

}  // namespace

DeviceHandle OpenInProcess(DeviceDriver& driver) {
  std::unique_ptr<DeviceConnection> connection;
  try {
    connection = driver.Open();
  } catch (const std::bad_alloc&) {
    return nullptr;  // the driver of the device object ran out of memory
  }
  if (connection == nullptr) return nullptr;
  auto* device = new (std::nothrow) DeviceObject;
  if (device == nullptr) return nullptr;
  device->connection = std::move(connection);
  return device;
}

void CloseInProcess(DeviceObject* device) {
  // Transfers still in flight complete as aborted, each in its own thread's
  // next alertable wait (this thread's at once, when it waits next).
  DetachTransfers(device);
  std::lock_guard<std::mutex> guard(device->mutex);
  device->connection.reset();  // the driver sees its handle closed
}

bool StartInProcess(DeviceObject* device, bool isWrite, const void* data, uint8_t* target,
                    uint32_t length, AsyncIo* io, CompletionRoutine routine) {
  TransferRecord* record = NewTransfer(device, true, io, routine, isWrite ? nullptr : target,
                                       isWrite ? data : nullptr, length);
  if (record == nullptr) return false;
  DeviceAnswer answer;
  {
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->connection == nullptr || device->broken) {
      DiscardTransfer(record);
      return false;
    }
    try {
      answer = isWrite ? device->connection->Write(record->staging.data(), length)
                       : device->connection->Read(record->staging.data(), length);
    } catch (const std::bad_alloc&) {
      DiscardTransfer(record);  // the driver ran out of memory: not started
      return false;
    }
    if (answer.timing == DeviceAnswer::Timing::kDisconnect) device->broken = true;
  }
  uint64_t now = GetTickCount64();
  switch (answer.timing) {
    case DeviceAnswer::Timing::kNow:
      SetInProcessAnswer(record, answer.error, answer.count, now);
      break;
    case DeviceAnswer::Timing::kLate:
      SetInProcessAnswer(record, answer.error, answer.count, now + answer.delayMs);
      break;
    case DeviceAnswer::Timing::kNever:
      SetInProcessAnswer(record, answer.error, answer.count, kNever);
      break;
    case DeviceAnswer::Timing::kDisconnect:  // the device is gone
      SetInProcessAnswer(record, kErrorDeviceNotConnected, 0, now);
      break;
  }
  QueueDueInProcessCompletions();
  return true;
}

void CancelInProcess(DeviceObject* device) { GiveUpTransfers(device); }

bool ControlInProcess(DeviceObject* device, uint32_t code, const void* in, uint32_t inLength,
                      void* out, uint32_t outLength, uint32_t* returned) {
  std::vector<uint8_t> answered;
  try {
    answered.assign(std::max<uint32_t>(outLength, 1), 0);
  } catch (const std::bad_alloc&) {
    return false;  // not sent: the device was not asked
  }
  DeviceAnswer answer;
  {
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->connection == nullptr || device->broken) return false;
    try {
      answer = device->connection->Control(code, static_cast<const uint8_t*>(in), inLength,
                                           answered.data(), outLength);
    } catch (const std::bad_alloc&) {
      return false;  // the driver ran out of memory
    }
    if (answer.timing == DeviceAnswer::Timing::kDisconnect) {
      device->broken = true;
      return false;
    }
  }
  // A control request is synchronous: a late answer holds the caller, up to
  // the limit after which the request is given up (and its output dropped).
  if (answer.timing == DeviceAnswer::Timing::kNever ||
      (answer.timing == DeviceAnswer::Timing::kLate && answer.delayMs > kControlLimitMs)) {
    ::Sleep(kControlLimitMs);
    return false;
  }
  if (answer.timing == DeviceAnswer::Timing::kLate) ::Sleep(answer.delayMs);
  uint32_t count = std::min(answer.count, outLength);
  if (out != nullptr && count != 0) std::memcpy(out, answered.data(), count);
  if (returned != nullptr) *returned = count;
  return answer.error == 0;
}

uint64_t QueueDueInProcessCompletions() {
  TransferRecord* due[16];
  uint64_t now = GetTickCount64();
  for (;;) {
    size_t taken = TakeDueInProcessTransfers(now, due, std::size(due));
    for (size_t i = 0; i < taken; ++i) QueueToThisThread(due[i]);
    if (taken < std::size(due)) break;
  }
  return NextInProcessCompletion();
}

}  // namespace orvik::os::win32
