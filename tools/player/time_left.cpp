#include "player/time_left.h"

namespace orvik::tool {

std::optional<double> TimeLeftEstimate::At(double percent, Clock::time_point now) const {
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (percent < kSteadyFromPercent || percent >= 100.0 || elapsed < kSteadyFromSeconds)
    return std::nullopt;
  return elapsed * (100.0 - percent) / percent;
}

}  // namespace orvik::tool
