// A request and its answer as the web face's routes see them: plain values,
// with no HTTP library in sight.  The server (server.cpp) parses and writes
// the wire format with Beast and converts at its edge, so the routes and
// their tests deal only in these.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orvik::tool::web {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // "/api/versions?manifest=..." as sent
  // Header names in lower case (HTTP names are case-insensitive).
  std::map<std::string, std::string> headers;
  std::string body;

  // The header's value, or "" when the request has none.
  std::string Header(const std::string& lowerCaseName) const;
  // The target without its query: "/api/versions".
  std::string Path() const;
  // The query parameter, percent-decoded, or "" when absent.
  std::string Query(const std::string& name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::map<std::string, std::string> headers;  // beyond Content-Type and Content-Length
  // The answer is the event stream: the server writes the head and then
  // the events as they come (body unused).
  bool eventStream = false;
  uint64_t streamAfter = 0;  // the stream starts with the events after this id
};

// Decodes %XX and '+' of a query component; a '%' that starts no escape
// is kept as written.
std::string PercentDecode(const std::string& text);

}  // namespace orvik::tool::web
