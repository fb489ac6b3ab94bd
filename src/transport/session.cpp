// The device session and its overlapped transfers.
//
// Transfers wait for their completion routine inside an alertable wait of at
// most 1000 ms.  A transfer that times out is cancelled, but its completion
// routine still runs later (Windows delivers it in a later alertable wait; a
// stalled socket device may answer late).  To keep such a late completion
// from being taken for a newer transfer's, every transfer has its own slot
// (overlapped record and bounce area) and a number: a routine whose slot no
// longer carries the number being waited for only frees its slot.  A slot is
// not used again until its routine has run.
//
// The session is shared by every thread of the host; the session lock
// (ExchangeGuard) makes each transfer, and each exchange built from
// transfers, atomic, and keeps open and close from changing the session
// under a transfer.  Completion routines run on the thread that started the
// transfer, inside its wait, so they too run under the lock.
#include "transport/session.h"

#include <cstring>
#include <new>

#include "platform/page_buffer.h"
#include "transport/control_requests.h"
#include "transport/device_name.h"
#include "transport/exchange_guard.h"
#include "transport/open_report.h"

namespace orvik::transport {
namespace {

constexpr int kTransferSlots = 4;

struct TransferSlot {
  os::AsyncIo io;
  uint32_t number = 0;     // the transfer this slot carries
  bool inFlight = false;   // started, routine not yet run
  bool completed = false;  // the routine ran for the current transfer
};

struct DeviceSession {
  os::DeviceHandle device = nullptr;
  os::EventHandle completionEvent = nullptr;
  os::PageBuffer bounceBuffer;  // one 4096-byte area per slot
  TransferSlot slots[kTransferSlots];
  uint32_t awaited = 0;  // number of the transfer being waited for, 0 none
  uint32_t lastNumber = 0;
};

// The session: made at the first transfer or open, never destroyed (like the
// locks, a thread may still end a transfer while the process exits), and
// made without the heap.
DeviceSession& Session() {
  alignas(DeviceSession) static unsigned char storage[sizeof(DeviceSession)];
  static DeviceSession* session = new (storage) DeviceSession;
  return *session;
}
// The last transfer of this thread found no device.  Per thread, so that
// another thread's exchange between a transfer and the question does not
// answer it.
thread_local bool tNoAnswer = false;

void OnTransferComplete(uint32_t error, uint32_t bytes, os::AsyncIo* io) {
  DeviceSession& session = Session();
  auto* slot = static_cast<TransferSlot*>(io->owner);
  slot->inFlight = false;
  if (slot->number == 0 || slot->number != session.awaited) return;  // abandoned transfer
  io->scratch = (error == 0 && bytes == io->scratch) ? 1 : 0;
  tNoAnswer = error == os::kErrorDeviceNotConnected || error == os::kErrorOperationAborted;
  slot->completed = true;
  os::TheOs().SetEvent(session.completionEvent);
}

int FreeSlot() {
  for (int i = 0; i < kTransferSlots; ++i) {
    if (!Session().slots[i].inFlight) return i;
  }
  return -1;
}

uint32_t NextTransferNumber() {
  DeviceSession& session = Session();
  if (++session.lastNumber == 0) session.lastNumber = 1;
  return session.lastNumber;
}

// Waits for the slot's own completion, at most the transfer limit in all.
bool AwaitCompletion(TransferSlot& slot) {
  os::Os& os = os::TheOs();
  uint64_t deadline = os.MonotonicMilliseconds() + kTransferLimitMs;
  for (;;) {
    uint64_t now = os.MonotonicMilliseconds();
    uint32_t remaining = now < deadline ? static_cast<uint32_t>(deadline - now) : 0;
    os::WaitResult result = os.WaitAlertable(Session().completionEvent, remaining);
    if (slot.completed) return true;
    // Another completion routine ended the wait: keep waiting for ours.
    if (result == os::WaitResult::kIoCompletion && remaining > 0) continue;
    return false;
  }
}

bool Transfer(bool isWrite, uint8_t* data, uint32_t length) {
  ExchangeGuard exchange;
  DeviceSession& session = Session();
  tNoAnswer = true;  // until the device answers this one
  if (session.device == nullptr || session.completionEvent == nullptr ||
      session.bounceBuffer.empty())
    return false;
  if (data == nullptr && length != 0) {
    tNoAnswer = false;  // refused here; the device was not asked
    return false;
  }
  uint32_t requestSize = length;
  bool bounced = false;
  if (!isWrite && length % kReadGranule != 0) {
    if (length >= kBounceBufferSize) {  // the rounded read would not fit
      tNoAnswer = false;
      return false;
    }
    requestSize = (length / kReadGranule + 1) * kReadGranule;
    bounced = true;
  }
  int index = FreeSlot();
  if (index < 0) return false;  // every slot still waits for a cancelled transfer
  TransferSlot& slot = session.slots[index];
  uint8_t* target = bounced ? session.bounceBuffer.data() + index * kBounceBufferSize : data;

  os::Os& os = os::TheOs();
  slot.io.owner = &slot;
  slot.io.offset = 0;
  slot.io.offsetHigh = 0;
  slot.io.scratch = requestSize;
  slot.number = NextTransferNumber();
  slot.completed = false;
  session.awaited = slot.number;
  os.ResetEvent(session.completionEvent);
  bool started =
      isWrite ? os.StartWrite(session.device, data, requestSize, &slot.io, OnTransferComplete)
              : os.StartRead(session.device, target, requestSize, &slot.io, OnTransferComplete);
  if (!started) {
    session.awaited = 0;
    return false;
  }
  slot.inFlight = true;
  if (!AwaitCompletion(slot)) {
    os.CancelIo(session.device);
    session.awaited = 0;
    // Lets the cancelled routine free its slot now, when the cancel has
    // completed it: a thread that ends after this transfer never runs
    // another alertable wait, and its slot would stay taken for good.
    os.WaitAlertable(session.completionEvent, 0);
    return false;
  }
  session.awaited = 0;
  if (bounced) std::memcpy(data, target, length);  // whatever the result
  return slot.io.scratch == 1;
}

// Releases what the session holds, each thing once.
void ReleaseSessionBuffers() {
  DeviceSession& session = Session();
  session.bounceBuffer.Release();
  if (session.completionEvent != nullptr) {
    os::TheOs().CloseEvent(session.completionEvent);
    session.completionEvent = nullptr;
  }
}

// With tracing on (ORVIK_DEBUG), a failed open says why.
void Explain(os::Os& os, OpenReport& report) {
  if (os.TraceEnabled()) os.DebugOutput(report.Text());
}

void EndSessionQuietly() {
  DeviceSession& session = Session();
  if (session.device != nullptr) {
    os::TheOs().CloseDevice(session.device);
    session.device = nullptr;
  }
  ReleaseSessionBuffers();
}

}  // namespace

bool OpenSession(char instance, bool search, DEVICE_STATUS mode, OpenKind kind) {
  ExchangeGuard exchange;
  DeviceSession& session = Session();
  EndSessionQuietly();
  os::Os& os = os::TheOs();
  const char* prefix = DeviceNamePrefix(os.GetPlatformVersion());
  bool recovery = mode == DEVICE_STATUS_RECOVERY;
  int first = search ? 0 : static_cast<signed char>(instance);
  int attempts = search ? kInstanceScanCount : 1;
  OpenReport report;
  DeviceNameText name;
  for (int n = 0; n < attempts && session.device == nullptr; ++n) {
    name = DeviceName(prefix, first + n, recovery);
    session.device = os.OpenDevice(name.c_str());
    if (session.device == nullptr) report.NameFailed(name.c_str(), os.LastOpenFailure());
  }
  if (session.device == nullptr) {
    Explain(os, report);
    return false;
  }

  session.completionEvent = os.NewEvent();
  if (session.completionEvent == nullptr) {
    report.SessionFailed(name.c_str(), "opened, but its completion event could not be created");
    Explain(os, report);
    return false;
  }
  if (!session.bounceBuffer.Allocate(uint64_t{kBounceBufferSize} * kTransferSlots)) {
    ReleaseSessionBuffers();
    report.SessionFailed(name.c_str(), "opened, but its transfer buffer could not be allocated");
    Explain(os, report);
    return false;
  }
  if (kind == OpenKind::kBlocking) {
    _USER_DATA record{1, 0, 1, 0};
    SetUserData(&record);  // the result of this request is ignored
  }
  return true;
}

bool CloseSession() {
  ExchangeGuard exchange;
  DeviceSession& session = Session();
  _USER_DATA record{};
  if (GetUserData(&record) && record.ownerFlag != 0) {
    record.ownerFlag = 0;
    SetUserData(&record);
  }
  bool closed = false;
  if (session.device != nullptr) {
    closed = os::TheOs().CloseDevice(session.device);
    session.device = nullptr;
  }
  ReleaseSessionBuffers();
  return closed;
}

bool SessionIsOpen() {
  ExchangeGuard exchange;
  return Session().device != nullptr;
}

bool DeviceStoppedAnswering() { return tNoAnswer; }

const char* LastFailureCause() {
  return tNoAnswer ? "the device did not answer" : "the device reported an error";
}

os::DeviceHandle SessionDevice() {
  ExchangeGuard exchange;
  return Session().device;
}

bool WriteToDevice(const uint8_t* data, uint32_t length) {
  return Transfer(true, const_cast<uint8_t*>(data), length);
}

bool ReadFromDevice(uint8_t* data, uint32_t length) { return Transfer(false, data, length); }

}  // namespace orvik::transport
