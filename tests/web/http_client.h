// A small HTTP client for the tests of the page's server: one request per
// connection, written as raw text (so that a test can send what no browser
// would) and the answer read with Beast's parser (of an event stream, only
// its head).
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace orvik::tool::web::testing {

struct Answer {
  int status = 0;  // 0: no answer (the connection was closed)
  std::map<std::string, std::string> headers;
  std::string body;

  nlohmann::json Json() const { return nlohmann::json::parse(body, nullptr, false); }
};

// Sends text as it is to 127.0.0.1:port and reads one answer.
inline Answer SendRaw(unsigned port, const std::string& text,
                      std::chrono::seconds limit = std::chrono::seconds(60)) {
  namespace net = boost::asio;
  namespace beast = boost::beast;
  namespace http = beast::http;
  net::io_context io;
  beast::tcp_stream stream(io);
  Answer answer;
  beast::error_code error;
  stream.expires_after(limit);
  stream.connect(net::ip::tcp::endpoint(net::ip::make_address_v4("127.0.0.1"),
                                        static_cast<unsigned short>(port)),
                 error);
  if (error) return answer;
  net::write(stream, net::buffer(text), error);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  http::read_header(stream, buffer, parser, error);
  if (error) return answer;
  answer.status = static_cast<int>(parser.get().result_int());
  for (const auto& field : parser.get())
    answer.headers[std::string(field.name_string())] = std::string(field.value());
  // An event stream goes on until the server ends: its head is the answer.
  if (answer.headers["Content-Type"] == "text/event-stream") return answer;
  http::read(stream, buffer, parser, error);
  answer.body = parser.get().body();
  return answer;
}

// A request from a well-behaved client of the page.
inline std::string RequestText(const std::string& method, const std::string& target, unsigned port,
                               const std::string& token, const std::string& body = {},
                               const std::string& extraHeaders = {}) {
  std::string text = method + " " + target +
                     " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                     "\r\nConnection: close\r\n";
  if (!token.empty()) text += "X-Orvik-Token: " + token + "\r\n";
  if (method == "POST")
    text +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  return text + extraHeaders + "\r\n" + body;
}

inline Answer Request(const std::string& method, const std::string& target, unsigned port,
                      const std::string& token, const std::string& body = {}) {
  return SendRaw(port, RequestText(method, target, port, token, body));
}

}  // namespace orvik::tool::web::testing
