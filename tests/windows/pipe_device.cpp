// The named-pipe stand-in for the driver.
#include "pipe_device.h"

#include <atomic>

namespace orvik::testing {
namespace {

constexpr DWORD kBufferSize = 1 << 16;

std::string UniquePrefix() {
  static std::atomic<int> counter{0};
  return "orvik-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) +
         "-";
}

// Waits for an overlapped operation on the server's handle, or for stop.
bool Finish(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stop, DWORD* bytes) {
  HANDLE events[2] = {overlapped.hEvent, stop};
  DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (which != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &overlapped);
    GetOverlappedResult(pipe, &overlapped, bytes, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &overlapped, bytes, FALSE) != 0;
}

}  // namespace

PipeDevice::PipeDevice(const std::string& objectName) {
  std::string prefix = UniquePrefix();
  std::string name = "\\\\.\\pipe\\" + prefix + objectName;
  pipe_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kBufferSize,
                           kBufferSize, 0, nullptr);
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  connected_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  redirect_.emplace(prefix);
  if (pipe_ != INVALID_HANDLE_VALUE) server_ = std::thread([this] { Serve(); });
}

PipeDevice::~PipeDevice() {
  SetEvent(stop_);
  if (server_.joinable()) server_.join();
  redirect_.reset();
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  CloseHandle(stop_);
  CloseHandle(connected_);
}

void PipeDevice::QueueReply(std::optional<Bytes> reply, DWORD delayMs) {
  std::vector<std::pair<Bytes, DWORD>> replies;
  if (reply) replies.emplace_back(std::move(*reply), delayMs);
  QueueReplies(std::move(replies));
}

void PipeDevice::QueueReplies(std::vector<std::pair<Bytes, DWORD>> replies) {
  std::lock_guard<std::mutex> guard(mutex_);
  replies_.push_back(std::move(replies));
}

bool PipeDevice::Send(const Bytes& message) { return WriteMessage(message); }

std::vector<Bytes> PipeDevice::Received() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

bool PipeDevice::WaitForMessages(size_t count, DWORD timeoutMs) const {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (Received().size() < count) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(5);
  }
  return true;
}

bool PipeDevice::WaitForClient(DWORD timeoutMs) const {
  return WaitForSingleObject(connected_, timeoutMs) == WAIT_OBJECT_0;
}

bool PipeDevice::Stopping(DWORD waitMs) const {
  return WaitForSingleObject(stop_, waitMs) == WAIT_OBJECT_0;
}

bool PipeDevice::WriteMessage(const Bytes& message) {
  std::lock_guard<std::mutex> guard(writeMutex_);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD bytes = 0;
  bool ok = WriteFile(pipe_, message.data(), static_cast<DWORD>(message.size()), nullptr,
                      &overlapped) != 0 ||
            GetLastError() == ERROR_IO_PENDING;
  if (ok) ok = Finish(pipe_, overlapped, stop_, &bytes) && bytes == message.size();
  CloseHandle(overlapped.hEvent);
  return ok;
}

void PipeDevice::Serve() {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD bytes = 0;
  bool connected = ConnectNamedPipe(pipe_, &overlapped) != 0 ||
                   GetLastError() == ERROR_PIPE_CONNECTED ||
                   (GetLastError() == ERROR_IO_PENDING && Finish(pipe_, overlapped, stop_, &bytes));
  if (connected) SetEvent(connected_);
  std::vector<uint8_t> buffer(kBufferSize);
  while (connected && !Stopping(0)) {
    ResetEvent(overlapped.hEvent);
    bool read = ReadFile(pipe_, buffer.data(), kBufferSize, nullptr, &overlapped) != 0 ||
                GetLastError() == ERROR_IO_PENDING;
    if (!read || !Finish(pipe_, overlapped, stop_, &bytes)) break;  // client gone, or stop
    std::vector<std::pair<Bytes, DWORD>> replies;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      received_.emplace_back(buffer.begin(), buffer.begin() + bytes);
      if (!replies_.empty()) {
        replies = std::move(replies_.front());
        replies_.pop_front();
      }
    }
    for (const auto& [reply, delayMs] : replies) {
      if (Stopping(delayMs) || !WriteMessage(reply)) break;
    }
  }
  CloseHandle(overlapped.hEvent);
}

}  // namespace orvik::testing
