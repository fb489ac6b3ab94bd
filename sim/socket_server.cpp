#include "sim/socket_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <vector>

#include "platform/device_driver.h"
#include "sim/byte_order.h"
#include "sim/player.h"

namespace orvik::sim {
namespace {

using os::wire::kAnswerHeaderBytes;
using os::wire::kMaxPayload;  // a larger request is a broken host: its connection is closed
using os::wire::kOpControl;
using os::wire::kOpRead;
using os::wire::kOpWrite;
using os::wire::kRequestHeaderBytes;

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

struct SocketServer::Client {
  struct Answer {
    uint64_t due = 0;
    std::vector<uint8_t> bytes;
  };
  int fd = -1;
  std::unique_ptr<os::DeviceConnection> connection;
  std::vector<uint8_t> inbox;
  std::deque<Answer> answers;  // in request order, due times never decreasing
  std::vector<uint8_t> outbox;
  size_t outboxSent = 0;
  bool dropped = false;  // to be closed
};

SocketServer::SocketServer(std::shared_ptr<Player> player, Options options)
    : player_(std::move(player)), options_(std::move(options)) {}

SocketServer::~SocketServer() {
  Stop();
  if (listener_ >= 0) {
    ::close(listener_);
    ::unlink(socketPath_.c_str());
  }
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

bool SocketServer::Listen(std::string* error) {
  socketPath_ = options_.deviceDir + "/" + player_->ObjectName();
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  wakeRead_ = pipeEnds[0];
  wakeWrite_ = pipeEnds[1];
  return BindListener(error);
}

bool SocketServer::BindListener(std::string* error) {
  auto fail = [&](const std::string& text) {
    if (error) *error = text;
    return false;
  };
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.size() >= sizeof address.sun_path)
    return fail("socket path too long: " + socketPath_);
  std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  struct stat existing {};
  if (::lstat(socketPath_.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) return fail(socketPath_ + " exists and is not a socket");
    // A socket that answers belongs to a running server: taking its path
    // over would cut its clients off from the player they work on.  Only a
    // stale socket (its server gone) is replaced.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (live) return fail(socketPath_ + " is in use: another server is listening on it");
    ::unlink(socketPath_.c_str());
  }
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0) {
    std::string why = std::strerror(errno);
    ::close(listener_);
    listener_ = -1;
    return fail("cannot listen on " + socketPath_ + ": " + why);
  }
  SetNonBlocking(listener_);
  return true;
}

void SocketServer::FollowPower() {
  bool powered = !player_->PowerLost();
  if (!powered && listener_ >= 0) {
    // An unplugged device: its object is gone, opens fail.
    ::close(listener_);
    listener_ = -1;
    ::unlink(socketPath_.c_str());
  } else if (powered && listener_ < 0) {
    BindListener(nullptr);
  }
}

bool SocketServer::Start(std::string* error) {
  if (!Listen(error)) return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void SocketServer::Wake() {
  if (wakeWrite_ >= 0) {
    const char byte = 1;
    ssize_t ignored = ::write(wakeWrite_, &byte, 1);
    (void)ignored;
  }
}

void SocketServer::RequestStop() {
  stopRequested_.store(true);
  Wake();
}

void SocketServer::RequestReplug() {
  replugRequested_.store(true);
  Wake();
}

void SocketServer::Replug() {
  for (auto& client : clients_) CloseClient(*client);
  clients_.clear();
  if (options_.beforeReplug) options_.beforeReplug();
  player_->PlugIn();
  if (listener_ >= 0) {
    ::close(listener_);
    listener_ = -1;
    ::unlink(socketPath_.c_str());
  }
  // The object's name may have changed (normal or recovery).  A name that
  // cannot be bound now is tried again by FollowPower().
  socketPath_ = options_.deviceDir + "/" + player_->ObjectName();
  BindListener(nullptr);
  if (options_.afterReplug) options_.afterReplug();
}

void SocketServer::Stop() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

void SocketServer::CloseClient(Client& client) {
  client.connection.reset();  // the player sees its handle closed
  if (client.fd >= 0) ::close(client.fd);
  client.fd = -1;
  if (options_.onClientClosed) options_.onClientClosed();
}

void SocketServer::Accept() {
  for (;;) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // A device object that refuses the open: the handle closes at once.
    std::unique_ptr<os::DeviceConnection> connection = player_->Open();
    if (connection == nullptr) {
      ::close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->connection = std::move(connection);
    clients_.push_back(std::move(client));
  }
}

bool SocketServer::HandleRequest(Client& client, const uint8_t* header, const uint8_t* payload) {
  uint8_t op = header[0];
  uint32_t id = GetLittleEndian32(header + 4);
  uint32_t code = GetLittleEndian32(header + 8);
  uint32_t inLength = GetLittleEndian32(header + 12);
  uint32_t outLength = GetLittleEndian32(header + 16);
  std::vector<uint8_t> output;
  os::DeviceAnswer answer;
  switch (op) {
    case kOpWrite:
      answer = client.connection->Write(payload, inLength);
      break;
    case kOpRead:
      output.assign(outLength, 0);
      answer = client.connection->Read(output.data(), outLength);
      break;
    case kOpControl:
      output.assign(outLength, 0);
      answer = client.connection->Control(code, inLength != 0 ? payload : nullptr, inLength,
                                          outLength != 0 ? output.data() : nullptr, outLength);
      break;
    default:
      return false;
  }
  if (answer.timing == os::DeviceAnswer::Timing::kDisconnect) return false;
  if (answer.timing == os::DeviceAnswer::Timing::kNever) return true;
  uint32_t count = op == kOpWrite ? answer.count : std::min(answer.count, outLength);
  Client::Answer pending;
  pending.due = NowMs() + (answer.timing == os::DeviceAnswer::Timing::kLate ? answer.delayMs : 0);
  if (!client.answers.empty()) pending.due = std::max(pending.due, client.answers.back().due);
  size_t payloadBytes = op == kOpWrite ? 0 : count;
  pending.bytes.resize(kAnswerHeaderBytes + payloadBytes);
  PutLittleEndian(pending.bytes.data(), 4, id);
  PutLittleEndian(pending.bytes.data() + 4, 4, answer.error);
  PutLittleEndian(pending.bytes.data() + 8, 4, count);
  if (payloadBytes != 0)
    std::memcpy(pending.bytes.data() + kAnswerHeaderBytes, output.data(), payloadBytes);
  client.answers.push_back(std::move(pending));
  return true;
}

bool SocketServer::ReadRequests(Client& client) {
  uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      client.inbox.insert(client.inbox.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;  // closed by the host, or failed
  }
  size_t at = 0;
  bool alive = true;
  while (alive && client.inbox.size() - at >= kRequestHeaderBytes) {
    const uint8_t* header = client.inbox.data() + at;
    uint32_t inLength = GetLittleEndian32(header + 12);
    uint32_t outLength = GetLittleEndian32(header + 16);
    if (header[0] < kOpWrite || header[0] > kOpControl || inLength > kMaxPayload ||
        outLength > kMaxPayload) {
      alive = false;
      break;
    }
    if (client.inbox.size() - at < kRequestHeaderBytes + inLength) break;
    alive = HandleRequest(client, header, header + kRequestHeaderBytes);
    at += kRequestHeaderBytes + inLength;
  }
  client.inbox.erase(client.inbox.begin(), client.inbox.begin() + static_cast<std::ptrdiff_t>(at));
  return alive;
}

void SocketServer::Serve() {
  while (!stopRequested_.load()) {
    if (replugRequested_.exchange(false)) Replug();
    FollowPower();
    uint64_t now = NowMs();
    int timeout = -1;
    for (auto& client : clients_) {
      while (!client->answers.empty() && client->answers.front().due <= now) {
        auto& bytes = client->answers.front().bytes;
        client->outbox.insert(client->outbox.end(), bytes.begin(), bytes.end());
        client->answers.pop_front();
      }
      if (!client->answers.empty()) {
        auto wait = static_cast<int>(client->answers.front().due - now);
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
      }
      while (client->outboxSent < client->outbox.size()) {
        ssize_t n = ::send(client->fd, client->outbox.data() + client->outboxSent,
                           client->outbox.size() - client->outboxSent, MSG_NOSIGNAL);
        if (n > 0) {
          client->outboxSent += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        client->dropped = true;
        break;
      }
      if (client->outboxSent == client->outbox.size()) {
        client->outbox.clear();
        client->outboxSent = 0;
      }
    }
    for (auto it = clients_.begin(); it != clients_.end();) {
      if ((*it)->dropped) {
        CloseClient(**it);
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }

    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeRead_, POLLIN, 0});
    fds.push_back(pollfd{listener_, POLLIN, 0});
    for (auto& client : clients_) {
      short events = POLLIN;
      if (!client->outbox.empty()) events = static_cast<short>(events | POLLOUT);
      fds.push_back(pollfd{client->fd, events, 0});
    }
    // Without a listener, look at the power now and then.
    if (listener_ < 0 && (timeout < 0 || timeout > 100)) timeout = 100;
    int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (fds[0].revents != 0) {
      char drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    if (listener_ >= 0 && (fds[1].revents & POLLIN)) Accept();
    size_t index = 2;
    for (auto& client : clients_) {
      if (index >= fds.size()) break;
      short revents = fds[index++].revents;
      if (revents & (POLLIN | POLLHUP | POLLERR))
        if (!ReadRequests(*client)) client->dropped = true;
    }
  }
  for (auto& client : clients_) CloseClient(*client);
  clients_.clear();
}

}  // namespace orvik::sim
