// One connection to the page's server: requests read with Beast's parser
// within the limits, handed to the routes on the pool, their answers
// written back, and the event stream kept open after GET /api/events.
// Internal to server.cpp (it includes Beast).
#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>
#include <string>

#include "web/server.h"

namespace orvik::tool::web {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// What every connection of a server shares.
struct ConnectionShared {
  ServerLimits limits;
  Handler handler;
  EventHub* hub = nullptr;
  net::thread_pool* routes = nullptr;
  std::atomic<size_t> open{0};
};

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(net::ip::tcp::socket socket, ConnectionShared& shared);
  ~HttpConnection();
  void Start() { ReadRequest(); }

 private:
  void ReadRequest();
  void OnRead(beast::error_code error);
  void Refuse(int status, const std::string& code, const std::string& message);
  void Reply(HttpResponse response, bool keepAlive);
  void OnWritten(beast::error_code error, bool keepAlive);
  void StartStream(uint64_t after);
  void PollStream();
  void WriteStream(std::string text);
  void Close();

  beast::tcp_stream stream_;
  ConnectionShared& shared_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<void> message_;  // the answer being written
  // The event stream: the last id sent, the timer that polls, and when
  // something was last written.
  uint64_t streamAfter_ = 0;
  net::steady_timer streamTimer_;
  std::chrono::steady_clock::time_point lastWrite_{};
  std::string streamText_;
};

// The Beast request as the routes see it.
HttpRequest ToHttpRequest(const http::request<http::string_body>& message);

}  // namespace orvik::tool::web
