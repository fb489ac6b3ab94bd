#include "web/server.h"

#include <fmt/format.h>

#include "base/tool_error.h"
#include "web/http_connection.h"

namespace orvik::tool::web {

struct Server::Impl {
  explicit Impl(ServerLimits limits) : routes(limits.routeThreads) { shared.limits = limits; }

  void Accept();
  void WatchStopping();

  // First, so that it outlives the connections the io_context destroys.
  ConnectionShared shared;
  net::io_context io{1};
  net::ip::tcp::acceptor acceptor{io};
  net::thread_pool routes;
  net::steady_timer stopTimer{io};
  std::function<bool()> stopping;
};

void Server::Impl::Accept() {
  acceptor.async_accept([this](beast::error_code error, net::ip::tcp::socket socket) {
    if (error == net::error::operation_aborted) return;
    if (!error) {
      if (shared.open >= shared.limits.connections) {
        // Too many at once: this one is turned away, the server goes on.
        beast::error_code ignored;
        socket.close(ignored);
      } else {
        ++shared.open;
        socket.set_option(net::ip::tcp::no_delay(true), error);
        std::make_shared<HttpConnection>(std::move(socket), shared)->Start();
      }
    }
    Accept();
  });
}

void Server::Impl::WatchStopping() {
  stopTimer.expires_after(std::chrono::milliseconds(100));
  stopTimer.async_wait([this](beast::error_code error) {
    if (error) return;
    if (stopping && stopping()) return io.stop();
    WatchStopping();
  });
}

Server::Server(uint16_t port, ServerLimits limits) : impl_(std::make_unique<Impl>(limits)) {
  const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
  beast::error_code error;
  impl_->acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
  // Lets a restarted gui take its --port again at once; on Windows the
  // same option would let another program take a port in use.
  if (!error) impl_->acceptor.set_option(net::socket_base::reuse_address(true), error);
#endif
  if (!error) impl_->acceptor.bind(endpoint, error);
  if (!error) impl_->acceptor.listen(static_cast<int>(limits.connections), error);
  if (error)
    Fail("port-in-use", fmt::format("Cannot listen on 127.0.0.1:{}: {}.", port, error.message()),
         "Another program uses that port.", "Give another with --port, or leave --port out.");
}

Server::~Server() {
  Stop();
  impl_->routes.join();
}

uint16_t Server::Port() const { return impl_->acceptor.local_endpoint().port(); }

void Server::Serve(Handler handler, EventHub& hub, std::function<bool()> stopping) {
  impl_->shared.handler = std::move(handler);
  impl_->shared.hub = &hub;
  impl_->shared.routes = &impl_->routes;
  impl_->stopping = std::move(stopping);
  impl_->Accept();
  impl_->WatchStopping();
  impl_->io.run();
  // The routes still answering finish before Serve returns: they use
  // what the caller owns.
  impl_->routes.join();
}

void Server::Stop() { impl_->io.stop(); }

}  // namespace orvik::tool::web
