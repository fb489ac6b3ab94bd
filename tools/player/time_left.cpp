#include "player/time_left.h"

#include <algorithm>

namespace orvik::tool {

std::optional<double> TimeLeftEstimate::At(double percent, Clock::time_point now) {
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    movedAt_ = now;
  }
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (percent < kSteadyFromPercent || percent >= 100.0 || elapsed < kSteadyFromSeconds)
    return std::nullopt;
  const double toMove = std::chrono::duration<double>(movedAt_ - start_).count();
  const double sinceMove = std::chrono::duration<double>(now - movedAt_).count();
  return std::max(0.0, toMove * (100.0 - percent) / percent - sinceMove);
}

}  // namespace orvik::tool
