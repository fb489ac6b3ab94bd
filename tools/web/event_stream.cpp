// The event stream of GET /api/events on its connection: the head once,
// then every event the hub receives, as the page's EventSource reads them.
#include "web/http_connection.h"
#include "web/request_guard.h"

namespace orvik::tool::web {

void HttpConnection::StartStream(uint64_t after) {
  streamAfter_ = after;
  HttpResponse head;
  head.contentType = "text/event-stream";
  AddSafetyHeaders(head);
  std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n";
  for (const auto& [name, value] : head.headers) text += name + ": " + value + "\r\n";
  // No length: the stream ends when the connection does.  The page
  // reconnects after a second when it drops.
  WriteStream(text + "\r\nretry: 1000\n\n");
}

void HttpConnection::PollStream() {
  streamTimer_.expires_after(shared_.limits.streamPoll);
  streamTimer_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (error) return;  // closed
    std::string text;
    for (const WebEvent& event : self->shared_.hub->Since(self->streamAfter_)) {
      text += EventStreamText(event);
      self->streamAfter_ = event.id;
    }
    const auto quiet = std::chrono::steady_clock::now() - self->lastWrite_;
    if (text.empty() && quiet >= self->shared_.limits.streamKeepAlive) text = ": still here\n\n";
    if (text.empty()) return self->PollStream();
    self->WriteStream(std::move(text));
  });
}

void HttpConnection::WriteStream(std::string text) {
  streamText_ = std::move(text);
  lastWrite_ = std::chrono::steady_clock::now();
  // A page that stops reading must not hold the connection for ever.
  stream_.expires_after(shared_.limits.requestTime);
  net::async_write(stream_, net::buffer(streamText_),
                   [self = shared_from_this()](beast::error_code error, size_t) {
                     if (error) return self->Close();
                     self->PollStream();
                   });
}

}  // namespace orvik::tool::web
