#include "web/web_events.h"

#include <algorithm>
#include <cmath>

#include "base/interruption.h"
#include "base/tool_error.h"

namespace orvik::tool::web {
namespace {

std::atomic<uint64_t> nextQuestion{1};

std::string Minutes(std::chrono::milliseconds time) {
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(time).count();
  return seconds >= 120 ? std::to_string(seconds / 60) + " minutes"
                        : std::to_string(seconds) + " seconds";
}

}  // namespace

nlohmann::json ProgressJson(const ProgressUpdate& update) {
  return {{"label", update.label},
          {"percent", std::clamp(update.percent, 0.0, 100.0)},
          {"secondsLeft", update.secondsLeft ? nlohmann::json(std::lround(*update.secondsLeft))
                                             : nlohmann::json()},
          {"done", update.done}};
}

nlohmann::json QuestionJson(uint64_t id, const Destruction& destruction) {
  return {{"id", id},
          {"command", destruction.command},
          {"what", destruction.what},
          {"lost", destruction.lost},
          {"backup", destruction.backupHint},
          {"backupMade", destruction.backupMade},
          {"target", destruction.target}};
}

WebEvents::WebEvents(EventHub& hub, QuestionBox& questions, std::chrono::milliseconds answerTime)
    : hub_(hub), questions_(questions), answerTime_(answerTime) {}

void WebEvents::Line(std::string_view text) { hub_.Publish("line", {{"text", text}}); }

void WebEvents::Field(std::string_view label, std::string_view value, int) {
  hub_.Publish("fact", {{"label", label}, {"value", value}});
}

void WebEvents::Step(std::string_view text) { hub_.Publish("step", {{"text", text}}); }

void WebEvents::Warn(std::string_view text) { hub_.Publish("warning", {{"text", text}}); }

std::string WebEvents::Paint(Style, std::string_view text) const { return std::string(text); }

void WebEvents::Progress(const ProgressUpdate& update) {
  {
    std::lock_guard<std::mutex> lock(progressMutex_);
    const int whole = static_cast<int>(update.percent);
    const long seconds = update.secondsLeft ? std::lround(*update.secondsLeft) : -1;
    if (!update.done && update.label == lastLabel_ && whole == lastWhole_ &&
        seconds == lastSeconds_)
      return;
    lastLabel_ = update.done ? std::string() : update.label;
    lastWhole_ = update.done ? -1 : whole;
    lastSeconds_ = update.done ? -1 : seconds;
  }
  hub_.Publish("progress", ProgressJson(update));
}

void WebEvents::Confirm(const Destruction& destruction) {
  const uint64_t id = nextQuestion++;
  hub_.Publish("question", QuestionJson(id, destruction));
  const AnswerOutcome outcome = questions_.Ask(id, answerTime_, InterruptRequested);
  hub_.Publish("answered", {{"id", id}, {"yes", outcome == AnswerOutcome::kYes}});
  switch (outcome) {
    case AnswerOutcome::kYes:
      return;
    case AnswerOutcome::kNo:
      Fail("cancelled", "Cancelled: nothing was changed.", {},
           "Start the action again and confirm it to go ahead.");
    case AnswerOutcome::kTimedOut:
      Fail("cancelled", "No answer came within " + Minutes(answerTime_) + ": nothing was changed.",
           "The question before " + destruction.command + " was not answered on the page.",
           "Start the action again and confirm it to go ahead.");
    case AnswerOutcome::kStopped:
      Fail("cancelled", "The tool is stopping: nothing was changed.", {},
           "Start orvik gui again to go on.");
  }
}

}  // namespace orvik::tool::web
