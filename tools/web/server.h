// The page's HTTP server: Boost.Beast over Boost.Asio, on 127.0.0.1 only.
//
// One thread runs the network (accepting, reading requests with Beast's
// parser, writing answers and the event streams); the routes run on a
// small pool beside it, since a read of the player takes seconds.  Every
// request is bounded (its head, its body, the time to send it) and so is
// the number of open connections; a request Beast cannot parse gets a 4xx
// answer and its connection is closed, and the server goes on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "web/event_hub.h"
#include "web/http_message.h"

namespace orvik::tool::web {

struct ServerLimits {
  size_t headerBytes = 8 * 1024;
  size_t bodyBytes = 64 * 1024;
  size_t connections = 32;
  std::chrono::seconds requestTime{30};       // to send one whole request
  std::chrono::milliseconds streamPoll{100};  // how often a stream looks for events
  std::chrono::seconds streamKeepAlive{15};   // a comment on a quiet stream
  size_t routeThreads = 4;                    // requests answered at once
};

using Handler = std::function<HttpResponse(const HttpRequest&)>;

class Server {
 public:
  // Binds 127.0.0.1:port (0: a free port the system picks); throws
  // ToolError "port-in-use" when it cannot.
  explicit Server(uint16_t port, ServerLimits limits = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  uint16_t Port() const;

  // Serves on the calling thread until stopping() returns true (it is
  // polled) or Stop() is called; streams read their events from hub.
  void Serve(Handler handler, EventHub& hub, std::function<bool()> stopping);
  // Ends Serve (from any thread).
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvik::tool::web
