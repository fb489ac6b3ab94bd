#include "web/router.h"

#include <algorithm>

namespace orvik::tool::web {
namespace {

constexpr const char* kOperationsPrefix = "/api/operations/";

HttpResponse JsonResponse(int status, const nlohmann::json& body) {
  HttpResponse response;
  response.status = status;
  response.body = body.dump();
  return response;
}

HttpResponse WrongMethod(const std::string& allowed) {
  HttpResponse response = ErrorResponse(405, "method", "Use " + allowed + " here.");
  response.headers["Allow"] = allowed;
  return response;
}

HttpResponse Busy(const std::string& operation) {
  return ErrorResponse(
      409, "busy",
      "The player is busy with " + operation + ": wait until it ends (one action at a time).");
}

bool Known(const std::string& name) {
  const std::vector<std::string>& names = OperationNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The stream resumes after the event a reconnecting page saw last.
uint64_t ResumePoint(const HttpRequest& request, const EventHub& hub) {
  std::string last = request.Header("last-event-id");
  if (last.empty()) last = request.Query("after");
  if (last.empty() || last.size() > 19 ||
      !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return hub.StreamStart();
  return std::stoull(last);
}

}  // namespace

HttpResponse Router::Handle(const HttpRequest& request) {
  HttpResponse response;
  if (std::optional<HttpResponse> refusal = Refusal(request, parts_.rules))
    response = std::move(*refusal);
  else
    response = Route(request);
  AddSafetyHeaders(response);
  return response;
}

HttpResponse Router::Route(const HttpRequest& request) {
  const std::string path = request.Path();
  const bool get = request.method == "GET";
  if (path.rfind(kOperationsPrefix, 0) == 0) {
    const std::string name = path.substr(std::char_traits<char>::length(kOperationsPrefix));
    if (!Known(name)) return ErrorResponse(404, "not-found", "There is no operation " + name + ".");
    return request.method == "POST" ? StartOperation(request, name) : WrongMethod("POST");
  }
  if (path == "/api/answer")
    return request.method == "POST" ? AnswerQuestion(request) : WrongMethod("POST");
  if (path.rfind("/api/", 0) == 0 && !get) return WrongMethod("GET");
  if (path == "/api/state") return Read(request, Look::kState);
  if (path == "/api/versions") return Read(request, Look::kVersions);
  if (path == "/api/blocks") return Read(request, Look::kBlocks);
  if (path == "/api/events") return Events(request);
  if (path == "/api/operation") return JsonResponse(200, parts_.desk.Status());
  if (path.rfind("/api/", 0) == 0) return ErrorResponse(404, "not-found", "No such route.");
  return get ? Asset(request) : WrongMethod("GET");
}

HttpResponse Router::Read(const HttpRequest& request, Look what) {
  std::string manifest = request.Query("manifest");
  if (what == Look::kVersions && manifest.empty())
    return ErrorResponse(400, "needs-manifest",
                         "Give the firmware set: manifest=, the path of its manifest.json.");
  try {
    nlohmann::json answer = parts_.desk.Read(what, manifest);
    if (what == Look::kState) answer["presetManifest"] = parts_.presetManifest;
    return JsonResponse(200, answer);
  } catch (const DeskBusy& busy) {
    return Busy(busy.Operation());
  }
}

HttpResponse Router::Events(const HttpRequest& request) {
  HttpResponse response;
  response.eventStream = true;
  response.contentType = "text/event-stream";
  response.streamAfter = ResumePoint(request, parts_.hub);
  return response;
}

HttpResponse Router::StartOperation(const HttpRequest& request, const std::string& name) {
  OperationRequest operation;
  try {
    operation = ReadOperationRequest(name, request.body);
  } catch (const BadRequest& bad) {
    return ErrorResponse(400, "bad-request", bad.what());
  }
  const std::optional<uint64_t> id = parts_.desk.Start(operation);
  if (!id) {
    const nlohmann::json running = parts_.desk.Status()["running"];
    return Busy(running.is_object() ? running["operation"].get<std::string>() : "an action");
  }
  return JsonResponse(202, {{"id", *id}, {"operation", name}});
}

HttpResponse Router::AnswerQuestion(const HttpRequest& request) {
  const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("question") || !body["question"].is_number_unsigned() ||
      !body.contains("yes") || !body["yes"].is_boolean())
    return ErrorResponse(400, "bad-request",
                         "Send {\"question\": its id, \"yes\": true or false}.");
  if (!parts_.questions.Answer(body["question"].get<uint64_t>(), body["yes"].get<bool>()))
    return ErrorResponse(409, "no-question",
                         "That question is not waiting for an answer any more.");
  return JsonResponse(200, {{"answered", body["question"]}});
}

HttpResponse Router::Asset(const HttpRequest& request) {
  std::optional<AssetFile> file = parts_.assets.Find(request.Path());
  if (!file) return ErrorResponse(404, "not-found", "No such file.");
  HttpResponse response;
  response.contentType = file->contentType;
  response.body = std::move(file->bytes);
  return response;
}

}  // namespace orvik::tool::web
