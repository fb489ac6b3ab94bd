// The process-wide progress state: a phase number and a percentage.
//
// Phase and percentage are published together under a tiny spin lock, so a
// host thread polling them never reads a torn double or a percentage of
// another phase.  The state is part of the library context; the exports
// hand the operations a LibraryProgress over it.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/progress_target.h"

namespace orvik::api {

inline constexpr uint32_t kPhaseWaitMs = 2000;

struct ProgressSnapshot {
  uint32_t phase = 0;
  double percent = 0.0;
};

class ProgressState {
 public:
  ProgressSnapshot Read();
  // Stores the phase; a percentage of exactly 0.0 resets the percentage,
  // any other is added to it, clamped at 100.0.
  void SetPhaseValues(uint32_t phase, double percentage);
  // Adds to the percentage, clamped at 100.0 (never lowered by the clamp).
  void AddClamped(double increment);
  // Adds to the percentage without a clamp, as a caller adding to its own
  // double would.
  void AddRaw(double increment);
  void Store(double percent);

  // Announces a phase boundary: stores the values, then, with a host event,
  // resets it and waits up to 2000 ms for the host to signal it.
  void SetPhase(uint32_t phase, double percentage, void* hostEvent);

 private:
  class Lock;
  std::atomic<bool> busy_{false};
  uint32_t phase_ = 0;
  double percent_ = 0.0;
};

// The library's progress state as an operation's target; phase boundaries
// give the host's event (nullptr: none) its chance to hold the operation.
class LibraryProgress final : public protocol::ProgressTarget {
 public:
  LibraryProgress(ProgressState& state, void* hostEvent) : state_(state), hostEvent_(hostEvent) {}
  void Add(double increment) override { state_.AddRaw(increment); }
  void AddClamped(double increment) override { state_.AddClamped(increment); }
  void Store(double value) override { state_.Store(value); }
  uint32_t Phase() const override { return state_.Read().phase; }
  void Announce(uint32_t phase, double percentage) override {
    state_.SetPhase(phase, percentage, hostEvent_);
  }

 private:
  ProgressState& state_;
  void* hostEvent_;
};

}  // namespace orvik::api
