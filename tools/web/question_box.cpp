#include "web/question_box.h"

#include <algorithm>

namespace orvik::tool::web {
namespace {

// How often a waiting question looks whether the tool is stopping.
constexpr std::chrono::milliseconds kStopPoll{100};

}  // namespace

AnswerOutcome QuestionBox::Ask(uint64_t id, std::chrono::milliseconds limit,
                               const std::function<bool()>& stopping) {
  std::unique_lock<std::mutex> lock(mutex_);
  open_ = id;
  answer_.reset();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  AnswerOutcome outcome = AnswerOutcome::kTimedOut;
  while (true) {
    if (answer_) {
      outcome = *answer_ ? AnswerOutcome::kYes : AnswerOutcome::kNo;
      break;
    }
    if (stopping && stopping()) {
      outcome = AnswerOutcome::kStopped;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    answered_.wait_for(lock,
                       std::min<std::chrono::steady_clock::duration>(deadline - now, kStopPoll));
  }
  open_.reset();
  answer_.reset();
  return outcome;
}

bool QuestionBox::Answer(uint64_t id, bool yes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_ != id || answer_) return false;
  answer_ = yes;
  answered_.notify_all();
  return true;
}

std::optional<uint64_t> QuestionBox::Open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

}  // namespace orvik::tool::web
