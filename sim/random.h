// A small deterministic generator (SplitMix64).  The standard distributions
// differ between library implementations; this one gives the same faults
// from the same seed everywhere.
#pragma once

#include <cstdint>

namespace orvik::sim {

class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed = 1) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); bound must be non-zero.
  uint64_t Below(uint64_t bound) { return Next() % bound; }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

 private:
  uint64_t state_;
};

}  // namespace orvik::sim
