// Where a long operation on the player reports how far it got.
//
// The card, flash and media code only ever talks to a ProgressTarget that
// its caller hands down: the exports pass the library's progress state (a
// host polls it with OrvikGetProgress) or the host's own double.  Nothing
// below the exports knows which.
#pragma once

#include <cstdint>

namespace orvik::protocol {

class ProgressTarget {
 public:
  virtual ~ProgressTarget() = default;
  // Adds to the percentage without a clamp, as a caller adding to its own
  // double would.
  virtual void Add(double increment) = 0;
  // Adds to the percentage, clamped at 100.0 (never lowered by the clamp).
  virtual void AddClamped(double increment) = 0;
  virtual void Store(double value) = 0;
  // The phase announced last; 0 for a target without phases.
  virtual uint32_t Phase() const = 0;
  // A phase boundary: stores the phase and the percentage (0.0 resets it,
  // anything else is added, clamped) and gives the host's event, if any, its
  // chance to hold the operation.  A target without phases ignores it.
  virtual void Announce(uint32_t phase, double percentage) = 0;
};

// The host's own double, as the card exports take it.
class HostProgress final : public ProgressTarget {
 public:
  explicit HostProgress(double* value) : value_(value) {}
  void Add(double increment) override { *value_ += increment; }
  void AddClamped(double increment) override {
    *value_ += increment;
    if (*value_ > 100.0) *value_ = 100.0;
  }
  void Store(double value) override { *value_ = value; }
  uint32_t Phase() const override { return 0; }
  void Announce(uint32_t, double) override {}

 private:
  double* value_;
};

}  // namespace orvik::protocol
