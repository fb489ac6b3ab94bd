#include "web/http_connection.h"

#include <algorithm>
#include <cctype>

#include "web/request_guard.h"

namespace orvik::tool::web {
namespace {

bool ParseFailure(const beast::error_code& error) {
  return &error.category() == &http::make_error_code(http::error::bad_method).category();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

HttpRequest ToHttpRequest(const http::request<http::string_body>& message) {
  HttpRequest request;
  request.method = std::string(message.method_string());
  request.target = std::string(message.target());
  for (const auto& field : message) {
    // A header given twice is read as both values, so that a second Host
    // or Origin can never slip past the guard.
    std::string& value = request.headers[Lower(std::string(field.name_string()))];
    value += (value.empty() ? "" : ", ") + std::string(field.value());
  }
  request.body = message.body();
  return request;
}

HttpConnection::HttpConnection(net::ip::tcp::socket socket, ConnectionShared& shared)
    : stream_(std::move(socket)),
      shared_(shared),
      buffer_(shared.limits.headerBytes + shared.limits.bodyBytes),
      streamTimer_(stream_.get_executor()) {}

HttpConnection::~HttpConnection() { --shared_.open; }

void HttpConnection::ReadRequest() {
  parser_.emplace();
  parser_->header_limit(static_cast<uint32_t>(shared_.limits.headerBytes));
  parser_->body_limit(shared_.limits.bodyBytes);
  stream_.expires_after(shared_.limits.requestTime);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code error, size_t) { self->OnRead(error); });
}

void HttpConnection::OnRead(beast::error_code error) {
  if (error == http::error::header_limit)
    return Refuse(431, "header-too-large", "The request's head is too large.");
  if (error == http::error::body_limit)
    return Refuse(413, "body-too-large", "The request's body is too large.");
  if (error == http::error::buffer_overflow)
    return Refuse(413, "too-large", "The request is too large.");
  if (error && ParseFailure(error) && error != http::error::end_of_stream)
    return Refuse(400, "bad-request", "The request is not well-formed HTTP.");
  if (error) return Close();  // the peer left, or took too long
  const bool keepAlive = parser_->get().keep_alive();
  HttpRequest request = ToHttpRequest(parser_->get());
  // A read of the player may take a while: no time limit while it runs.
  stream_.expires_never();
  net::post(*shared_.routes, [self = shared_from_this(), request = std::move(request), keepAlive] {
    HttpResponse response = self->shared_.handler(request);
    net::post(self->stream_.get_executor(),
              [self, response = std::move(response), keepAlive]() mutable {
                self->Reply(std::move(response), keepAlive);
              });
  });
}

void HttpConnection::Refuse(int status, const std::string& code, const std::string& message) {
  HttpResponse response = ErrorResponse(status, code, message);
  AddSafetyHeaders(response);
  Reply(std::move(response), false);
}

void HttpConnection::Reply(HttpResponse response, bool keepAlive) {
  if (response.eventStream) return StartStream(response.streamAfter);
  auto message = std::make_shared<http::response<http::string_body>>(
      static_cast<http::status>(response.status), 11);
  message->set(http::field::content_type, response.contentType);
  for (const auto& [name, value] : response.headers) message->set(name, value);
  message->body() = std::move(response.body);
  message->keep_alive(keepAlive);
  message->prepare_payload();
  message_ = message;
  stream_.expires_after(shared_.limits.requestTime);
  http::async_write(stream_, *message,
                    [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
                      self->OnWritten(error, keepAlive);
                    });
}

void HttpConnection::OnWritten(beast::error_code error, bool keepAlive) {
  message_.reset();
  if (error || !keepAlive) return Close();
  ReadRequest();
}

void HttpConnection::Close() {
  beast::error_code ignored;
  streamTimer_.cancel();
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
}

}  // namespace orvik::tool::web
