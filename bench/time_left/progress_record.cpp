#include "bench/time_left/progress_record.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvik::bench {

void ProgressRecorder::Progress(const tool::ProgressUpdate& update) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  samples_.push_back({update, now});
}

std::vector<ProgressSample> ProgressRecorder::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(samples_, {});
}

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One step: samples [first, end] where end is its `done` report.  The work
// ended between the last report below 100 % and the first at 100 % (the
// `done` report itself comes a poll later, when the next step is seen), so
// the real time left of a report is known only to within that span: a
// figure inside it is exact, one outside is judged against the span's
// nearer end.  The last report before the end is not judged: its real time
// left lies anywhere from nothing to the span, where no figure has a
// relative error that can be told.
PhaseJudgement JudgeStep(const std::vector<ProgressSample>& samples, size_t first, size_t end) {
  PhaseJudgement judgement;
  judgement.label = samples[first].update.label;
  size_t reached = first;
  while (reached < end && samples[reached].update.percent < 100.0) ++reached;
  const Clock::time_point finishedBy = samples[reached].at;
  const Clock::time_point finishedAfter = samples[reached > first ? reached - 1 : first].at;
  judgement.seconds = Seconds(finishedBy - samples[first].at);
  judgement.span = Seconds(finishedBy - finishedAfter);
  std::vector<double> errors;
  for (size_t i = first; i + 1 < reached; ++i) {
    const tool::ProgressUpdate& update = samples[i].update;
    if (update.percent < 20.0) continue;
    if (!update.secondsLeft) {
      ++judgement.unshown;
      continue;
    }
    const double shown = *update.secondsLeft;
    const double low = Seconds(finishedAfter - samples[i].at);
    const double high = Seconds(finishedBy - samples[i].at);
    double error = 0.0;
    if (shown > high) error = (shown - high) / high;
    if (shown < low) error = (low - shown) / low;
    if (error >= judgement.worst) {
      judgement.worst = error;
      judgement.worstAtPercent = update.percent;
    }
    errors.push_back(error);
  }
  judgement.judged = errors.size();
  if (!errors.empty()) {
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    judgement.median = errors[errors.size() / 2];
  }
  judgement.within = judgement.worst <= kBound;
  return judgement;
}

}  // namespace

std::vector<PhaseJudgement> Judge(const std::vector<ProgressSample>& samples) {
  std::vector<PhaseJudgement> steps;
  size_t first = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    // A report under another label also ends the step before it (a step
    // cut short reports no `done`).
    if (i > first && samples[i].update.label != samples[first].update.label) {
      steps.push_back(JudgeStep(samples, first, i - 1));
      first = i;
    }
    if (samples[i].update.done) {
      steps.push_back(JudgeStep(samples, first, i));
      first = i + 1;
    }
  }
  return steps;
}

}  // namespace orvik::bench
