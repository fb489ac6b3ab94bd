// The progress a tool operation reported, as it reported it, and the
// judgement of its time-left figures against the time each step really
// took (known once the step ended).
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/events.h"

namespace orvik::bench {

using Clock = std::chrono::steady_clock;

struct ProgressSample {
  tool::ProgressUpdate update;
  Clock::time_point at;
};

// Events that keep every progress update with the moment it came, agree to
// every question and drop the operation's text.
class ProgressRecorder : public tool::Events {
 public:
  void Line(std::string_view) override {}
  void Step(std::string_view) override {}
  void Warn(std::string_view) override {}
  std::string Paint(tool::Style, std::string_view text) const override { return std::string(text); }
  bool Verbose() const override { return false; }
  void Confirm(const tool::Destruction&) override {}
  void Progress(const tool::ProgressUpdate& update) override;

  // The samples so far, and none after.
  std::vector<ProgressSample> Take();

 private:
  std::mutex mutex_;
  std::vector<ProgressSample> samples_;
};

// How true one step's time-left figures were.  A sample is judged when the
// step was at least a fifth done and had not ended by the next one (the
// step's end is known only to within a poll); the figure judged is
// the one the tool showed with it (none while the estimate is not steady:
// those are counted apart, as `unshown`).
struct PhaseJudgement {
  std::string label;
  double seconds = 0.0;  // from the step's first report to its first at 100 %
  double span = 0.0;     // how closely the end is known: the last poll's gap
  size_t judged = 0;     // samples from a fifth on with a figure shown
  size_t unshown = 0;    // samples from a fifth on without one
  double worst = 0.0;    // largest |shown - real| / real
  double median = 0.0;
  double worstAtPercent = 0.0;  // where the worst one was
  bool within = true;           // every judged sample within the bound
};

inline constexpr double kBound = 0.15;

// Splits the samples into steps (a step ends at its `done` report) and
// judges each.
std::vector<PhaseJudgement> Judge(const std::vector<ProgressSample>& samples);

}  // namespace orvik::bench
