// Serves a player's device object on a Unix stream socket, speaking the
// driver wire protocol that the library's POSIX device channel uses:
//
//   request: op (1 write, 2 read, 3 control), 3 zero bytes, id, code,
//            inLength, outLength (32-bit little-endian), then inLength bytes;
//   answer:  id, error, count, then count bytes for reads and controls.
//
// Each connection is one open handle of the device object.  Answers go out
// in the order of the requests; a late answer goes out after its delay
// (holding back the answers behind it, as a busy device would), a stalled
// request is never answered, and an injected disconnect closes the socket.
// While the player has no power its socket is removed, so opens fail as
// they do for an unplugged device; it comes back with the power.  A replug
// drops every client, plugs the player in anew and listens under the
// device object name that then applies (normal or recovery).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvik::sim {

class Player;

class SocketServer {
 public:
  struct Options {
    std::string deviceDir;  // the socket is deviceDir/<player's object name>
    // Called on the serving thread after a client's connection has closed.
    std::function<void()> onClientClosed;
    // Called on the serving thread during a replug: before the player is
    // plugged in anew (its clients gone), and once it listens again.
    std::function<void()> beforeReplug;
    std::function<void()> afterReplug;
  };

  SocketServer(std::shared_ptr<Player> player, Options options);
  ~SocketServer();  // stops serving and removes the socket
  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  // Creates and binds the socket (a stale socket file is replaced).
  bool Listen(std::string* error);
  // Serves on the calling thread until RequestStop(); needs Listen() first.
  void Serve();
  // Listen() and Serve() on a thread of the server's own.
  bool Start(std::string* error);
  // Ends Serve() soon; safe to call from a signal handler.
  void RequestStop();
  // RequestStop() and waits for the thread that Start() began.
  void Stop();
  // Has Serve() plug the player in anew soon; safe to call from a signal
  // handler.
  void RequestReplug();

  std::string SocketPath() const { return socketPath_; }

 private:
  struct Client;
  bool BindListener(std::string* error);
  // Removes the socket while the player has no power, and puts it back.
  void FollowPower();
  void Accept();
  bool ReadRequests(Client& client);
  bool HandleRequest(Client& client, const uint8_t* header, const uint8_t* payload);
  void CloseClient(Client& client);
  void Wake();
  void Replug();

  std::shared_ptr<Player> player_;
  Options options_;
  std::string socketPath_;
  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::vector<std::unique_ptr<Client>> clients_;  // used by the serving thread only
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> replugRequested_{false};
  std::thread thread_;
};

}  // namespace orvik::sim
