// A device object served from a named pipe by a thread of the test: the
// stand-in for the player's driver on the real Win32 transfer path.
//
// The pipe is in message mode, so each write of the library arrives as one
// message and each reply is taken by exactly one read of the library, as
// with the driver.  The server answers every message it receives with the
// next scripted reply (after a delay, or not at all), and the test can also
// send a message on its own.  Opened through the seam's pipe redirect, so
// the library opens "\\.\TEMBROr0" with its usual CreateFileA call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/pipe_redirect.h"

namespace orvik::testing {

using Bytes = std::vector<uint8_t>;

class PipeDevice {
 public:
  // Serves the device object objectName (e.g. "TEMBROr0") and redirects it.
  explicit PipeDevice(const std::string& objectName = "TEMBROr0");
  ~PipeDevice();
  PipeDevice(const PipeDevice&) = delete;
  PipeDevice& operator=(const PipeDevice&) = delete;

  // How the next message received is answered: these bytes after delayMs,
  // or (std::nullopt) not at all.
  void QueueReply(std::optional<Bytes> reply, DWORD delayMs = 0);
  // Answers the next message with several replies, each after its delay.
  void QueueReplies(std::vector<std::pair<Bytes, DWORD>> replies);
  // Sends a message now, unasked.
  bool Send(const Bytes& message);

  // Messages received so far, in order.
  std::vector<Bytes> Received() const;
  // Waits until count messages have arrived (at most timeoutMs).
  bool WaitForMessages(size_t count, DWORD timeoutMs = 3000) const;
  bool WaitForClient(DWORD timeoutMs = 3000) const;

 private:
  void Serve();
  bool WriteMessage(const Bytes& message);
  bool Stopping(DWORD waitMs) const;

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  HANDLE connected_ = nullptr;
  std::thread server_;
  std::optional<os::win32::ScopedPipeRedirect> redirect_;

  mutable std::mutex mutex_;
  std::mutex writeMutex_;
  std::deque<std::vector<std::pair<Bytes, DWORD>>> replies_;  // empty entry: no answer
  std::vector<Bytes> received_;
};

}  // namespace orvik::testing
