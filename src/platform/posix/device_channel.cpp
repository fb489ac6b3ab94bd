// Device objects on POSIX: in-process drivers and socket devices.
//
// Nothing here lets an exception out: the seam's calls report a failure
// instead.  Transfers are kept in a per-thread list linked through the
// records themselves, the records and channels are taken without throwing,
// and the few containers left (read data, a socket's queues) catch a
// failed allocation and fail the transfer or end the connection.
#include "platform/posix/device_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/device_driver.h"
#include "platform/posix/event_object.h"

namespace orvik::os {

namespace posix {
class Channel;
}

struct DeviceObject {
  std::shared_ptr<posix::Channel> channel;
};

namespace posix {
namespace {

// What a completed transfer reports to its routine.
struct Completion {
  uint32_t error = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // read data that arrived (at most the request length)
};

// One started transfer.  It lives in the list of the thread that started it
// until its completion routine has run there.
struct Transfer {
  std::shared_ptr<Channel> channel;
  AsyncIo* io = nullptr;
  CompletionRoutine routine = nullptr;
  uint8_t* target = nullptr;  // read destination
  uint32_t length = 0;
  uint32_t id = 0;
  bool cancelled = false;
  bool ready = false;  // completion known; runs at readyAt
  uint64_t readyAt = 0;
  Completion completion;
  Transfer* next = nullptr;  // the next of the thread's transfers
};

// The transfers this thread started whose routines have not run, oldest
// first.  Linked through the records: keeping one allocates nothing.  The
// records left when the thread ends (transfers that never completed) go
// with it.
struct ThreadTransfers {
  Transfer* first = nullptr;
  ~ThreadTransfers() {
    while (first != nullptr) delete std::exchange(first, first->next);
  }
};
thread_local ThreadTransfers tThreadTransfers;

void AppendTransfer(Transfer* transfer) {
  Transfer** end = &tThreadTransfers.first;
  while (*end != nullptr) end = &(*end)->next;
  *end = transfer;
}

uint64_t Now() { return PosixMonotonicMilliseconds(); }

void MarkReady(Transfer& transfer, Completion completion, uint64_t at) {
  transfer.completion = std::move(completion);
  transfer.ready = true;
  transfer.readyAt = at;
}

}  // namespace

class Channel {
 public:
  virtual ~Channel() = default;
  // Starts a transfer; false when it cannot be started.
  virtual bool Submit(Transfer& transfer, bool isWrite, const uint8_t* data) = 0;
  // Moves what it can without waiting: sends queued requests, receives
  // whatever answers have arrived.
  virtual void Pump() {}
  // What to poll for while a transfer waits; false when nothing.
  virtual bool PollRequest(pollfd* request) {
    (void)request;
    return false;
  }
  // Moves an arrived answer into the transfer, if there is one.
  virtual void Collect(Transfer& transfer) { (void)transfer; }
  // Forgets the transfer: its answer, when it comes, is discarded.
  virtual void Abandon(Transfer& transfer) { (void)transfer; }
  virtual bool Control(uint32_t code, const void* in, uint32_t inLength, void* out,
                       uint32_t outLength, uint32_t* returned) = 0;
  virtual void Close() = 0;

  std::mutex mutex;
  std::atomic<bool> closed{false};
};

namespace {

// The completion of a transfer on a connection that is gone.
Completion NotConnected() { return Completion{kErrorDeviceNotConnected, 0, {}}; }

// A device object served by a driver in this process.
class InProcessChannel : public Channel {
 public:
  explicit InProcessChannel(std::unique_ptr<DeviceConnection> connection)
      : connection_(std::move(connection)) {}

  bool Submit(Transfer& transfer, bool isWrite, const uint8_t* data) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (closed) return false;
    if (broken_) {
      MarkReady(transfer, NotConnected(), Now());
      return true;
    }
    std::vector<uint8_t> buffer;
    DeviceAnswer answer;
    try {
      if (isWrite) {
        answer = connection_->Write(data, transfer.length);
      } else {
        buffer.assign(transfer.length, 0);
        answer = connection_->Read(buffer.data(), transfer.length);
      }
    } catch (const std::bad_alloc&) {
      return false;  // no memory here or in the driver: not started
    }
    Completion completion;
    completion.error = answer.error;
    completion.count = answer.count;
    if (!isWrite) {
      buffer.resize(std::min<size_t>(answer.count, transfer.length));
      completion.data = std::move(buffer);
    }
    uint64_t now = Now();
    switch (answer.timing) {
      case DeviceAnswer::Timing::kNow:
        MarkReady(transfer, std::move(completion), now);
        break;
      case DeviceAnswer::Timing::kLate:
        MarkReady(transfer, std::move(completion), now + answer.delayMs);
        break;
      case DeviceAnswer::Timing::kNever:
        break;
      case DeviceAnswer::Timing::kDisconnect:
        broken_ = true;
        MarkReady(transfer, NotConnected(), now);
        break;
    }
    return true;
  }

  bool Control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
               uint32_t* returned) override {
    DeviceAnswer answer;
    {
      std::lock_guard<std::mutex> guard(mutex);
      if (closed || broken_) return false;
      try {
        answer = connection_->Control(code, static_cast<const uint8_t*>(in), inLength,
                                      static_cast<uint8_t*>(out), outLength);
      } catch (const std::bad_alloc&) {
        return false;  // the driver ran out of memory
      }
      if (answer.timing == DeviceAnswer::Timing::kDisconnect) {
        broken_ = true;
        return false;
      }
    }
    if (answer.timing == DeviceAnswer::Timing::kNever ||
        (answer.timing == DeviceAnswer::Timing::kLate && answer.delayMs > kControlLimitMs)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kControlLimitMs));
      return false;
    }
    if (answer.timing == DeviceAnswer::Timing::kLate)
      std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    if (returned != nullptr) *returned = std::min(answer.count, outLength);
    return answer.error == 0;
  }

  void Close() override {
    std::lock_guard<std::mutex> guard(mutex);
    closed = true;
    connection_.reset();  // the driver sees its handle closed
  }

 private:
  std::unique_ptr<DeviceConnection> connection_;
  bool broken_ = false;
};

// Wire protocol of socket devices (platform/device_driver.h).
using wire::kOpControl;
using wire::kOpRead;
using wire::kOpWrite;

void PutWord(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetWord(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A device object behind a Unix socket in $ORVIK_DEVICE_DIR.
//
// Nothing here blocks: requests are queued and sent as the socket takes
// them, answers are received as they come, and the caller's wait (the
// transfer limit, or the control limit) bounds both.  The stream carries
// requests and answers back to back, so anything that leaves it at an
// unknown place ends the connection: a request given up before it was
// wholly sent, an answer given up after part of it arrived (a truncated
// header or payload), an answer to no request, one that skips a request
// still awaited, or one that reports more bytes than were asked.  Every
// transfer then fails as "device not connected", the one in flight and
// every later one, and the device sees the connection close.
class SocketChannel : public Channel {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}
  ~SocketChannel() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Submit(Transfer& transfer, bool isWrite, const uint8_t* data) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (closed) return false;
    if (broken_) {
      MarkReady(transfer, NotConnected(), Now());
      return true;
    }
    uint8_t op = isWrite ? kOpWrite : kOpRead;
    uint32_t id = 0;
    if (!Enqueue(op, 0, isWrite ? data : nullptr, isWrite ? transfer.length : 0,
                 isWrite ? 0 : transfer.length, &id))
      return false;
    transfer.id = id;
    Flush();
    return true;
  }

  void Pump() override {
    std::lock_guard<std::mutex> guard(mutex);
    if (broken_ || fd_ < 0) return;
    Flush();
    Receive();
  }

  bool PollRequest(pollfd* request) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (broken_ || fd_ < 0) return false;
    short events = POLLIN;
    if (Unsent() != 0) events = static_cast<short>(events | POLLOUT);
    *request = pollfd{fd_, events, 0};
    return true;
  }

  void Collect(Transfer& transfer) override {
    std::lock_guard<std::mutex> guard(mutex);
    auto found = arrived_.find(transfer.id);
    if (found == arrived_.end()) return;
    MarkReady(transfer, std::move(found->second), Now());
    arrived_.erase(found);
  }

  void Abandon(Transfer& transfer) override {
    std::lock_guard<std::mutex> guard(mutex);
    AbandonRequest(transfer.id);
  }

  bool Control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
               uint32_t* returned) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (closed || broken_) return false;
    uint32_t id = 0;
    if (!Enqueue(kOpControl, code, static_cast<const uint8_t*>(in), inLength, outLength, &id))
      return false;
    uint64_t deadline = Now() + kControlLimitMs;
    for (;;) {
      Flush();
      Receive();
      auto found = arrived_.find(id);
      if (found != arrived_.end()) {
        Completion answer = std::move(found->second);
        arrived_.erase(found);
        if (out != nullptr && !answer.data.empty())
          std::memcpy(out, answer.data.data(), answer.data.size());
        if (returned != nullptr) *returned = answer.count;
        return answer.error == 0;
      }
      uint64_t now = Now();
      if (now >= deadline || broken_) break;
      WaitForSocket(static_cast<uint32_t>(deadline - now));
    }
    AbandonRequest(id);
    return false;
  }

  void Close() override {
    std::lock_guard<std::mutex> guard(mutex);
    closed = true;
    Break();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  struct Outstanding {
    uint8_t op = 0;
    uint32_t inLength = 0;
    uint32_t outLength = 0;
    uint64_t requestEnd = 0;  // stream offset after the request's last byte
    bool wanted = true;       // false once abandoned: the answer is discarded
  };

  size_t Unsent() const { return outbox_.size() - outboxSent_; }

  // Queues a request; false when it cannot be queued (no memory).
  bool Enqueue(uint8_t op, uint32_t code, const uint8_t* data, uint32_t inLength,
               uint32_t outLength, uint32_t* id) {
    uint8_t header[wire::kRequestHeaderBytes] = {};
    header[0] = op;
    PutWord(&header[4], nextId_);
    PutWord(&header[8], code);
    PutWord(&header[12], inLength);
    PutWord(&header[16], outLength);
    try {
      outbox_.insert(outbox_.end(), header, header + wire::kRequestHeaderBytes);
      if (inLength != 0) {
        if (data != nullptr)
          outbox_.insert(outbox_.end(), data, data + inLength);
        else
          outbox_.insert(outbox_.end(), inLength, uint8_t{0});
      }
      queued_ += wire::kRequestHeaderBytes + inLength;
      outstanding_[nextId_] = Outstanding{op, inLength, outLength, queued_, true};
    } catch (const std::bad_alloc&) {
      Break();  // part of a request may sit in the queue
      return false;
    }
    *id = nextId_++;
    return true;
  }

  // Sends what the socket takes now.
  void Flush() {
    while (!broken_ && Unsent() != 0) {
      ssize_t n = ::send(fd_, outbox_.data() + outboxSent_, Unsent(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        outboxSent_ += static_cast<size_t>(n);
        sent_ += static_cast<uint64_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      Break();
      return;
    }
    if (Unsent() == 0) {
      outbox_.clear();
      outboxSent_ = 0;
    }
  }

  // Receives what has arrived, then takes every whole answer out of it.
  void Receive() {
    if (broken_ || fd_ < 0) return;
    bool ended = false;
    uint8_t chunk[16384];
    for (;;) {
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        try {
          inbox_.insert(inbox_.end(), chunk, chunk + n);
        } catch (const std::bad_alloc&) {
          Break();
          return;
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      ended = true;  // closed by the device, or failed: the answers before it still count
      break;
    }
    ParseAnswers();
    if (ended) Break();
  }

  // Waits at most timeoutMs for the socket to take or bring bytes.
  void WaitForSocket(uint32_t timeoutMs) {
    if (broken_ || fd_ < 0) return;
    short events = POLLIN;
    if (Unsent() != 0) events = static_cast<short>(events | POLLOUT);
    pollfd ready{fd_, events, 0};
    ::poll(&ready, 1, static_cast<int>(timeoutMs));
  }

  void ParseAnswers() {
    size_t pos = 0;
    while (inbox_.size() - pos >= wire::kAnswerHeaderBytes) {
      const uint8_t* header = inbox_.data() + pos;
      uint32_t id = GetWord(header);
      uint32_t error = GetWord(header + 4);
      uint32_t count = GetWord(header + 8);
      auto found = outstanding_.find(id);
      if (found == outstanding_.end() || found->second.requestEnd > sent_) {
        Break();  // an answer to nothing, or to a request not yet wholly sent
        return;
      }
      // A stalled device may leave requests unanswered; the caller gave up
      // on those.  Skipping one that is still awaited is no answer at all.
      for (auto older = outstanding_.begin(); older != found;) {
        if (older->second.wanted) {
          Break();
          return;
        }
        older = outstanding_.erase(older);
      }
      const Outstanding& request = found->second;
      uint32_t asked = request.op == kOpWrite ? request.inLength : request.outLength;
      if (count > asked || count > wire::kMaxPayload) {
        Break();  // more than was asked: not an answer to this request
        return;
      }
      uint32_t payload = request.op == kOpWrite ? 0 : count;
      if (inbox_.size() - pos < wire::kAnswerHeaderBytes + payload) break;  // rest not here yet
      if (request.wanted) {
        Completion completion;
        completion.error = error;
        completion.count = count;
        const uint8_t* data = header + wire::kAnswerHeaderBytes;
        try {
          completion.data.assign(data, data + payload);
          arrived_[id] = std::move(completion);
        } catch (const std::bad_alloc&) {
          Break();
          return;
        }
      }
      outstanding_.erase(found);
      pos += wire::kAnswerHeaderBytes + payload;
    }
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(pos));
  }

  // The caller gives up on a request.  Its answer is skipped by id when it
  // comes, unless the stream is already at an unknown place.
  void AbandonRequest(uint32_t id) {
    arrived_.erase(id);
    auto found = outstanding_.find(id);
    if (found == outstanding_.end()) return;
    found->second.wanted = false;
    Receive();  // what arrived up to now
    if (broken_) return;
    bool halfSent = sent_ < found->second.requestEnd;
    bool halfAnswered = !inbox_.empty();
    if (halfSent || halfAnswered) Break();
  }

  // The connection is lost or ended: every request awaited fails as not
  // connected, and every later one; the device sees the connection close.
  void Break() {
    if (broken_) return;
    broken_ = true;
    for (auto& entry : outstanding_) {
      if (!entry.second.wanted) continue;
      try {
        arrived_[entry.first] = NotConnected();
      } catch (const std::bad_alloc&) {
        // No memory to say so: the transfer ends at its limit instead.
      }
    }
    outstanding_.clear();
    inbox_.clear();
    outbox_.clear();
    outboxSent_ = 0;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  }

  int fd_;
  uint32_t nextId_ = 1;
  bool broken_ = false;
  std::vector<uint8_t> outbox_;  // requests queued, from outboxSent_ on not yet sent
  size_t outboxSent_ = 0;
  uint64_t queued_ = 0;  // bytes of requests queued since the connection opened
  uint64_t sent_ = 0;    // bytes of requests sent since the connection opened
  std::vector<uint8_t> inbox_;
  std::map<uint32_t, Outstanding> outstanding_;
  std::map<uint32_t, Completion> arrived_;
};

// Why the thread's last open failed, in a fixed buffer: an open never
// allocates for its explanation.
thread_local char tOpenFailure[512];

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::nullptr_t
OpenFailed(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(tOpenFailure, sizeof tOpenFailure, format, arguments);
  va_end(arguments);
  return nullptr;
}

// The text of an errno value, copied into buffer (the message may allocate).
const char* ErrorText(int error, char (&buffer)[128]) {
  try {
    std::snprintf(buffer, sizeof buffer, "%s", std::generic_category().message(error).c_str());
  } catch (const std::bad_alloc&) {
    std::snprintf(buffer, sizeof buffer, "error %d", error);
  }
  return buffer;
}

// A channel object, or nullptr when there is no memory for it.
template <typename ChannelType, typename Argument>
std::shared_ptr<Channel> NewChannel(Argument&& argument) {
  try {
    return std::make_shared<ChannelType>(std::forward<Argument>(argument));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<Channel> ConnectSocket(std::string_view objectName) {
  const char* directory = std::getenv("ORVIK_DEVICE_DIR");
  if (directory == nullptr || directory[0] == '\0')
    return OpenFailed("no such device object in this process, and ORVIK_DEVICE_DIR is not set");
  if (objectName.empty() || objectName.find('/') != std::string_view::npos)
    return OpenFailed("not a name a socket device can have");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  int length = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%.*s", directory,
                             static_cast<int>(objectName.size()), objectName.data());
  if (length < 0 || static_cast<size_t>(length) >= sizeof address.sun_path)
    return OpenFailed("the socket path in ORVIK_DEVICE_DIR=%s is too long", directory);
  char why[128];
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return OpenFailed("no socket: %s", ErrorText(errno, why));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    ::close(fd);
    if (error == ENOENT) return OpenFailed("no socket device in ORVIK_DEVICE_DIR=%s", directory);
    return OpenFailed("the socket %s refused the connection: %s", address.sun_path,
                      ErrorText(error, why));
  }
  std::shared_ptr<Channel> channel = NewChannel<SocketChannel>(fd);
  if (channel == nullptr) {
    ::close(fd);
    return OpenFailed("out of memory");
  }
  return channel;
}

bool Start(DeviceHandle device, bool isWrite, const uint8_t* writeData, uint8_t* readTarget,
           uint32_t length, AsyncIo* io, CompletionRoutine routine) {
  if (device == nullptr || device->channel == nullptr || io == nullptr || routine == nullptr)
    return false;
  auto* transfer = new (std::nothrow) Transfer;
  if (transfer == nullptr) return false;
  transfer->channel = device->channel;
  transfer->io = io;
  transfer->routine = routine;
  transfer->target = readTarget;
  transfer->length = length;
  if (!device->channel->Submit(*transfer, isWrite, writeData)) {
    delete transfer;
    return false;
  }
  AppendTransfer(transfer);
  return true;
}

// Runs the completion routines of this thread's transfers that are due.
bool RunDueCompletions() {
  for (Transfer* transfer = tThreadTransfers.first; transfer != nullptr;
       transfer = transfer->next) {
    if (transfer->ready) continue;
    if (transfer->channel->closed) {
      MarkReady(*transfer, Completion{kErrorOperationAborted, 0, {}}, Now());
      continue;
    }
    transfer->channel->Pump();
    transfer->channel->Collect(*transfer);
  }
  // Takes the due transfers out of the list first: a routine may start
  // another transfer, which joins the list.
  uint64_t now = Now();
  Transfer* due = nullptr;
  Transfer** dueEnd = &due;
  for (Transfer** link = &tThreadTransfers.first; *link != nullptr;) {
    Transfer* transfer = *link;
    if (transfer->ready && transfer->readyAt <= now) {
      *link = transfer->next;
      transfer->next = nullptr;
      *dueEnd = transfer;
      dueEnd = &transfer->next;
    } else {
      link = &transfer->next;
    }
  }
  bool ran = due != nullptr;
  while (due != nullptr) {
    std::unique_ptr<Transfer> transfer(due);
    due = due->next;
    Completion& completion = transfer->completion;
    if (!transfer->cancelled && transfer->target != nullptr && !completion.data.empty())
      std::memcpy(transfer->target, completion.data.data(),
                  std::min<size_t>(completion.data.size(), transfer->length));
    transfer->routine(completion.error, completion.count, transfer->io);
  }
  return ran;
}

}  // namespace

const char* LastOpenFailure() { return tOpenFailure; }

DeviceHandle OpenDevice(const char* name) {
  tOpenFailure[0] = '\0';
  std::string_view objectName = DeviceObjectName(name);
  std::shared_ptr<Channel> channel;
  if (auto driver = FindRegisteredDevice(objectName)) {
    std::unique_ptr<DeviceConnection> connection;
    try {
      connection = driver->Open();
    } catch (const std::bad_alloc&) {
      return OpenFailed("out of memory");  // in the driver of the device object
    }
    if (connection == nullptr) return OpenFailed("the device object refused the open");
    channel = NewChannel<InProcessChannel>(std::move(connection));
    if (channel == nullptr) return OpenFailed("out of memory");
  } else {
    channel = ConnectSocket(objectName);
  }
  if (channel == nullptr) return nullptr;
  auto* device = new (std::nothrow) DeviceObject;
  if (device == nullptr) {
    channel->Close();
    return OpenFailed("out of memory");
  }
  device->channel = std::move(channel);
  return device;
}

bool CloseDevice(DeviceHandle device) {
  if (device == nullptr) return false;
  device->channel->Close();
  delete device;
  return true;
}

bool StartWrite(DeviceHandle device, const void* data, uint32_t length, AsyncIo* io,
                CompletionRoutine routine) {
  return Start(device, true, static_cast<const uint8_t*>(data), nullptr, length, io, routine);
}

bool StartRead(DeviceHandle device, void* data, uint32_t length, AsyncIo* io,
               CompletionRoutine routine) {
  return Start(device, false, nullptr, static_cast<uint8_t*>(data), length, io, routine);
}

bool CancelIo(DeviceHandle device) {
  if (device == nullptr) return false;
  for (Transfer* transfer = tThreadTransfers.first; transfer != nullptr;
       transfer = transfer->next) {
    if (transfer->channel != device->channel || transfer->cancelled) continue;
    transfer->cancelled = true;
    device->channel->Abandon(*transfer);
    MarkReady(*transfer, Completion{kErrorOperationAborted, 0, {}}, Now());
  }
  return true;
}

bool DeviceControl(DeviceHandle device, uint32_t code, const void* in, uint32_t inLength, void* out,
                   uint32_t outLength, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (device == nullptr) return false;
  return device->channel->Control(code, in, inLength, out, outLength, returned);
}

WaitResult WaitAlertable(EventHandle event, uint32_t milliseconds) {
  if (event == nullptr) return WaitResult::kFailed;
  uint64_t deadline = Now() + milliseconds;
  for (;;) {
    if (RunDueCompletions()) return WaitResult::kIoCompletion;
    if (event->IsSet()) return WaitResult::kSignaled;
    uint64_t now = Now();
    if (now >= deadline) return WaitResult::kTimeout;
    uint64_t wake = deadline;
    // A thread has a few transfers in flight (the session keeps four
    // slots); beyond this many, the others are looked at after each slice.
    pollfd sockets[16];
    nfds_t polled = 0;
    for (Transfer* transfer = tThreadTransfers.first; transfer != nullptr;
         transfer = transfer->next) {
      pollfd request{};
      if (transfer->ready) {
        wake = std::min(wake, transfer->readyAt);
      } else if (polled < std::size(sockets) && transfer->channel->PollRequest(&request)) {
        sockets[polled++] = request;
      }
    }
    if (wake <= now) continue;
    if (polled != 0) {
      // Completion routines only run on this thread, so the event can only
      // change under us through another thread: look at it now and then.
      uint64_t slice = std::min<uint64_t>(wake - now, 20);
      ::poll(sockets, polled, static_cast<int>(slice));
    } else {
      event->WaitUntil(wake);
    }
  }
}

}  // namespace posix
}  // namespace orvik::os
