#include "sim/bus_clock.h"

namespace orvik::sim {
namespace {

// Lag behind the modelled time that later transfers still make up; a bus
// idle for longer starts afresh.
constexpr std::chrono::milliseconds kCatchUp{5};

}  // namespace

uint64_t TransferCostMicros(const BusTiming& timing, uint32_t bytes) {
  if (!timing.enabled) return 0;
  return timing.transferMicros + (uint64_t{bytes} * timing.byteNanos + 999) / 1000;
}

uint64_t ControlCostMicros(const BusTiming& timing) {
  return timing.enabled ? timing.controlMicros : 0;
}

std::optional<BusClock::Clock::time_point> BusClock::Schedule(uint64_t micros) {
  if (micros == 0) return std::nullopt;
  const Clock::time_point now = Clock::now();
  if (freeAt_ < now - kCatchUp) freeAt_ = now;
  freeAt_ += std::chrono::microseconds(micros);
  return freeAt_;
}

}  // namespace orvik::sim
