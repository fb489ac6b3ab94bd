// The process-wide progress state: a phase number and a percentage.
//
// Phase and percentage are published together under a tiny spin lock, so a
// host thread polling them never reads a torn double or a percentage of
// another phase.
#pragma once

#include <cstdint>

namespace orvik::api {

inline constexpr uint32_t kPhaseWaitMs = 2000;

struct ProgressSnapshot {
  uint32_t phase = 0;
  double percent = 0.0;
};

ProgressSnapshot ReadProgress();
// Stores the phase; a percentage of exactly 0.0 resets the percentage,
// any other is added to it, clamped at 100.0.
void SetPhaseValues(uint32_t phase, double percentage);
// Adds to the percentage, clamped at 100.0 (never lowered by the clamp).
void AddClampedProgress(double increment);
// Adds to the percentage without a clamp, as a caller adding to its own
// double would.
void AddRawProgress(double increment);
void StoreProgress(double percent);

// Announces a phase boundary: stores the values, then, with a host event,
// resets it and waits up to 2000 ms for the host to signal it.
void SetPhase(uint32_t phase, double percentage, void* hostEvent);

// Where a long operation reports its percentage: a host's own double, or
// the library's progress state.
class ProgressTarget {
 public:
  virtual ~ProgressTarget() = default;
  virtual void Add(double increment) = 0;  // no clamp
  virtual void Store(double value) = 0;
};

class HostProgress final : public ProgressTarget {
 public:
  explicit HostProgress(double* value) : value_(value) {}
  void Add(double increment) override { *value_ += increment; }
  void Store(double value) override { *value_ = value; }

 private:
  double* value_;
};

class LibraryProgress final : public ProgressTarget {
 public:
  void Add(double increment) override { AddRawProgress(increment); }
  void Store(double value) override { StoreProgress(value); }
};

}  // namespace orvik::api
