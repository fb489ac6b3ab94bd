#include "player/time_left.h"

#include <algorithm>

namespace orvik::tool {

std::optional<double> TimeLeftEstimate::At(double percent, Clock::time_point now) {
  const bool moved = percent != lastPercent_;
  if (moved) {
    lastPercent_ = percent;
    movedAt_ = lastLookMoved_ ? now : lastLook_ + (now - lastLook_) / 2;
  }
  lastLook_ = now;
  lastLookMoved_ = moved;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (percent < kSteadyFromPercent || percent >= 100.0 || elapsed < kSteadyFromSeconds)
    return std::nullopt;
  const double toMove = std::chrono::duration<double>(movedAt_ - start_).count();
  const double sinceMove = std::chrono::duration<double>(now - movedAt_).count();
  return std::max(0.0, toMove * (100.0 - percent) / percent - sinceMove);
}

}  // namespace orvik::tool
