#include "web/request_guard.h"

#include <nlohmann/json.hpp>

namespace orvik::tool::web {
namespace {

bool OwnHost(const std::string& host, unsigned port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

bool OwnOrigin(const std::string& origin, unsigned port) {
  return origin.rfind("http://", 0) == 0 && OwnHost(origin.substr(7), port);
}

std::string BodyToken(const HttpRequest& request) {
  const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("token") || !body["token"].is_string()) return {};
  return body["token"].get<std::string>();
}

std::string GivenToken(const HttpRequest& request) {
  if (std::string header = request.Header(kTokenHeader); !header.empty()) return header;
  // EventSource cannot set a header: a GET may carry the token in its query.
  if (request.method == "GET") return request.Query("token");
  return BodyToken(request);
}

bool JsonBody(const HttpRequest& request) {
  const std::string type = request.Header("content-type");
  return type.rfind("application/json", 0) == 0;
}

}  // namespace

HttpResponse ErrorResponse(int status, const std::string& code, const std::string& message) {
  HttpResponse response;
  response.status = status;
  response.body = nlohmann::json{{"error", {{"code", code}, {"message", message}}}}.dump();
  return response;
}

void AddSafetyHeaders(HttpResponse& response) {
  response.headers["Cache-Control"] = "no-store";
  response.headers["X-Content-Type-Options"] = "nosniff";
  response.headers["X-Frame-Options"] = "DENY";
  response.headers["Referrer-Policy"] = "no-referrer";
  if (response.contentType.rfind("text/html", 0) == 0)
    response.headers["Content-Security-Policy"] =
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
        "connect-src 'self'; form-action 'none'; frame-ancestors 'none'; base-uri 'none'";
}

bool SameSecret(const std::string& given, const std::string& expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < expected.size(); ++i)
    difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
  return difference == 0;
}

std::optional<HttpResponse> Refusal(const HttpRequest& request, const GuardRules& rules) {
  if (!OwnHost(request.Header("host"), rules.port))
    return ErrorResponse(421, "foreign-host",
                         "This server answers only requests addressed to 127.0.0.1:" +
                             std::to_string(rules.port) + ".");
  if (request.headers.count("origin") != 0 && !OwnOrigin(request.Header("origin"), rules.port))
    return ErrorResponse(403, "foreign-origin", "Requests from other web pages are refused.");
  if (request.method == "POST" && !JsonBody(request))
    return ErrorResponse(415, "not-json", "Send the request's options as application/json.");
  if (request.Path().rfind("/api/", 0) == 0 && !SameSecret(GivenToken(request), rules.token))
    return ErrorResponse(401, "token",
                         "The request lacks this run's token: open the address that orvik gui "
                         "printed.");
  return std::nullopt;
}

}  // namespace orvik::tool::web
