// What every request must show before the page's server acts on it.
//
// The server listens on the loopback address only, but a web page from
// anywhere may still make the owner's browser send requests to it: a page
// that rebinds its own name to 127.0.0.1 (its requests then carry a foreign
// Host), or one that posts to the address outright (a foreign Origin, and
// no token, which only the address the tool printed holds).  So a request
// is refused unless its Host is the server's own address, any Origin it
// carries is the server's own, and, for the API, it carries the per-run
// token; a state-changing request must also be JSON, which a plain form
// cannot send.
#pragma once

#include <optional>
#include <string>

#include "web/http_message.h"

namespace orvik::tool::web {

struct GuardRules {
  unsigned port = 0;  // the server's port on 127.0.0.1
  std::string token;  // the run's token
};

// The header that carries the token (the JSON body's "token" and, for GET,
// the query's token= do as well).
inline constexpr const char* kTokenHeader = "x-orvik-token";

// nullopt when the request may go on, else the refusal to send:
// 421 for a foreign Host, 403 for a foreign Origin, 401 for a missing or
// wrong token on /api/, 415 for a POST whose body is not JSON.
std::optional<HttpResponse> Refusal(const HttpRequest& request, const GuardRules& rules);

// A JSON error answer: {"error": {"code", "message"}}.
HttpResponse ErrorResponse(int status, const std::string& code, const std::string& message);

// The headers every answer carries: no caching of the owner's state, no
// embedding in other pages, no token leaking through a Referer, and for
// the page a policy that runs only its own script.
void AddSafetyHeaders(HttpResponse& response);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& given, const std::string& expected);

}  // namespace orvik::tool::web
