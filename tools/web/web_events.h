// The web face's account of an operation: each call of the tool's Events
// becomes an event of the stream the page reads (EventHub), and the
// question before a destructive step is put to the person at the page and
// waited for (QuestionBox).
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "base/events.h"
#include "web/event_hub.h"
#include "web/question_box.h"

namespace orvik::tool::web {

class WebEvents : public Events {
 public:
  // answerTime: how long a question waits for its answer before the
  // operation gives up, changing nothing.
  WebEvents(EventHub& hub, QuestionBox& questions, std::chrono::milliseconds answerTime);

  void Line(std::string_view text = {}) override;
  void Field(std::string_view label, std::string_view value, int width = 16) override;
  void Step(std::string_view text) override;
  void Warn(std::string_view text) override;
  // The page styles the events itself: text goes out plain.
  std::string Paint(Style style, std::string_view text) const override;
  bool Verbose() const override { return false; }
  // Sent when the step, its whole percent or its whole seconds left change,
  // so a fast loop of updates does not flood the stream.
  void Progress(const ProgressUpdate& update) override;
  // Sends the "question" event and waits for POST /api/answer; throws
  // ToolError "cancelled" when the person says no, does not answer in time,
  // or the tool is stopping.
  void Confirm(const Destruction& destruction) override;

 private:
  EventHub& hub_;
  QuestionBox& questions_;
  std::chrono::milliseconds answerTime_;
  std::mutex progressMutex_;
  std::string lastLabel_;
  int lastWhole_ = -1;
  long lastSeconds_ = -1;
};

// The event's data for a progress update: {label, percent, secondsLeft,
// done}; secondsLeft is null until the estimate is steady.
nlohmann::json ProgressJson(const ProgressUpdate& update);

// The question's data: {id, command, what, lost, backup (the command that
// would back up what is lost), backupMade (the backup already made), target}.
nlohmann::json QuestionJson(uint64_t id, const Destruction& destruction);

}  // namespace orvik::tool::web
