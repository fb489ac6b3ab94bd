// The bus timing model at work: what each transfer and control request costs
// (player_config.h, BusTiming) and when its answer may leave the player.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "sim/player_config.h"

namespace orvik::sim {

// The modelled cost in microseconds of a transfer that moved `bytes` bytes,
// and of a control request (0 while the model is off).
uint64_t TransferCostMicros(const BusTiming& timing, uint32_t bytes);
uint64_t ControlCostMicros(const BusTiming& timing);

// Keeps the bus's own time.  Each cost is added to the moment the bus is
// next free (or to now, if it has been idle), so sleeps that overshoot are
// made up by the transfers after them and a long operation takes its
// modelled time, not that plus the sleeps' overhead.  Not thread-safe: the
// player's lock guards it; the waiting happens outside that lock.
class BusClock {
 public:
  using Clock = std::chrono::steady_clock;

  // When the answer of something costing `micros` may go out; nullopt for
  // no cost.
  std::optional<Clock::time_point> Schedule(uint64_t micros);

 private:
  Clock::time_point freeAt_{};
};

}  // namespace orvik::sim
