// The question an operation asks before a destructive step, waiting for
// the person at the page to answer it.
//
// The operation's thread poses the question (its event goes to the page)
// and waits; POST /api/answer hands the answer over from the server's
// thread.  The wait ends with the answer, or when the time allowed runs
// out, or when the tool is stopping (Ctrl-C): an operation never hangs on
// a page that was closed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace orvik::tool::web {

enum class AnswerOutcome { kYes, kNo, kTimedOut, kStopped };

class QuestionBox {
 public:
  // Opens question id and waits for its answer; stopping is polled while
  // waiting.
  AnswerOutcome Ask(uint64_t id, std::chrono::milliseconds limit,
                    const std::function<bool()>& stopping);
  // Answers the open question id: false when no question with that id is
  // waiting (already answered, given up, or never asked).
  bool Answer(uint64_t id, bool yes);
  // The id of the question waiting for its answer.
  std::optional<uint64_t> Open() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<uint64_t> open_;
  std::optional<bool> answer_;
};

}  // namespace orvik::tool::web
