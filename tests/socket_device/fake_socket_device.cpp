// The misbehaving socket device.
#include "fake_socket_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace orvik::testing {
namespace {

void PutWord(Bytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetWord(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void SendAll(int fd, const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

Bytes WireAnswer(uint32_t id, uint32_t error, uint32_t count, const Bytes& payload) {
  Bytes bytes;
  PutWord(bytes, id);
  PutWord(bytes, error);
  PutWord(bytes, count);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

Bytes SoundAnswer(const WireRequest& request) {
  if (request.op == 1) return WireAnswer(request.id, 0, request.inLength);
  return WireAnswer(request.id, 0, request.outLength, Bytes(request.outLength, 0));
}

FakeSocketDevice::FakeSocketDevice(const std::filesystem::path& dir, const std::string& name,
                                   Script script, bool reads)
    : path_((dir / name).string()), script_(std::move(script)), reads_(reads) {
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
  ::unlink(path_.c_str());
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0) {
    ::close(listener_);
    listener_ = -1;
    return;
  }
  thread_ = std::thread([this] { Serve(); });
}

FakeSocketDevice::~FakeSocketDevice() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
  ::unlink(path_.c_str());
}

void FakeSocketDevice::Serve() {
  while (!stop_.load()) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    if (ServeClient(fd)) ended_.store(true);
    ::close(fd);
  }
}

// Serves one connection until the library ends it (true) or the test does.
bool FakeSocketDevice::ServeClient(int fd) {
  Bytes inbox;
  int index = 0;
  while (!stop_.load()) {
    if (!reads_) {
      ::usleep(20000);
      continue;
    }
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 20) <= 0) continue;
    uint8_t chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return true;
    inbox.insert(inbox.end(), chunk, chunk + n);
    for (;;) {
      if (inbox.size() < 20) break;
      WireRequest request{inbox[0],
                          GetWord(&inbox[4]),
                          GetWord(&inbox[8]),
                          GetWord(&inbox[12]),
                          GetWord(&inbox[16]),
                          index};
      if (inbox.size() < 20 + size_t{request.inLength}) break;
      inbox.erase(inbox.begin(), inbox.begin() + 20 + request.inLength);
      ++index;
      SendAll(fd, script_(request));
    }
  }
  return false;
}

}  // namespace orvik::testing
