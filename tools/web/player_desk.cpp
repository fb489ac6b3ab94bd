#include "web/player_desk.h"

#include "base/interruption.h"
#include "base/tool_error.h"
#include "web/operation_plans.h"
#include "web/player_reads.h"
#include "web/web_events.h"

namespace orvik::tool::web {

OperationDesk::OperationDesk(Settings settings, EventHub& hub, QuestionBox& questions,
                             std::chrono::milliseconds answerTime)
    : settings_(std::move(settings)), hub_(hub), questions_(questions), answerTime_(answerTime) {}

OperationDesk::~OperationDesk() {
  if (worker_.joinable()) worker_.join();
}

nlohmann::json OperationDesk::Read(Look what, const std::string& manifest) {
  std::unique_lock<std::timed_mutex> player(player_, std::defer_lock);
  // Another read finishes soon; an operation may take minutes: the page is
  // told at once, and reads again when the operation ends.  An operation
  // counts from its start, before its worker holds the player.
  do {
    std::lock_guard<std::mutex> lock(state_);
    if (!running_.empty()) throw DeskBusy(running_);
  } while (!player.try_lock_for(std::chrono::milliseconds(50)));
  switch (what) {
    case Look::kState:
      return ReadState(settings_, manifest);
    case Look::kVersions:
      return ReadVersions(settings_, manifest);
    case Look::kBlocks:
      return ReadBlocks(settings_, manifest);
  }
  return nullptr;
}

std::optional<uint64_t> OperationDesk::Start(const OperationRequest& request) {
  std::lock_guard<std::mutex> lock(state_);
  if (!running_.empty()) return std::nullopt;
  // The previous worker cleared running_ as its last step: it ends at once.
  if (worker_.joinable()) worker_.join();
  running_ = request.name;
  runningId_ = ++lastId_;
  hub_.BeginOperation();
  hub_.Publish("start", {{"id", runningId_}, {"operation", request.name}});
  worker_ = std::thread(&OperationDesk::Work, this, runningId_, request);
  return runningId_;
}

nlohmann::json OperationDesk::Status() const {
  std::lock_guard<std::mutex> lock(state_);
  nlohmann::json running = nullptr;
  if (!running_.empty()) running = {{"id", runningId_}, {"operation", running_}};
  return {{"running", running}, {"last", last_}};
}

void OperationDesk::Work(uint64_t id, const OperationRequest& request) {
  nlohmann::json end;
  {
    std::lock_guard<std::timed_mutex> player(player_);
    end = RunOne(id, request);
  }
  // Free before the end is told, so that the page's next read is not
  // refused as busy.
  std::lock_guard<std::mutex> lock(state_);
  running_.clear();
  last_ = end;
  // The type is read before the end is moved into the event.
  const std::string type = end["error"].is_null() ? "result" : "failure";
  hub_.Publish(type, std::move(end));
  hub_.EndOperation();
}

nlohmann::json OperationDesk::RunOne(uint64_t id, const OperationRequest& request) {
  WebEvents events(hub_, questions_, answerTime_);
  nlohmann::json result = nlohmann::json::object();
  nlohmann::json target = nullptr;
  Settings settings = settings_;
  settings.commandLine = TerminalCommand(request, settings.Target());
  OperationContext context{events, settings, result, target};
  nlohmann::json error = nullptr;
  int exitCode = kExitFailed;
  try {
    exitCode = RunPlan(context, request);
  } catch (const ToolError& failure) {
    Problem problem = failure.problem();
    if (InterruptRequested() && problem.exitCode == kExitFailed)
      problem.exitCode = kExitInterrupted;
    error = problem.ToJson();
    exitCode = problem.exitCode;
  } catch (const std::exception& failure) {
    error = {{"code", "internal"},
             {"message", std::string("The tool failed unexpectedly: ") + failure.what()}};
  }
  return {{"id", id},         {"operation", request.name}, {"exitCode", exitCode},
          {"target", target}, {"result", result},          {"error", error}};
}

}  // namespace orvik::tool::web
