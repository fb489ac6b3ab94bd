// A simulated player's bus timing model as a person sets it, shared by
// `orvik sim create` and `orvik sim faults` beside the fault options:
// full-speed or off, and the figures to tune it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/player_config.h"

namespace orvik::tool {

struct BusTimingOptions {
  std::string timing;  // "full-speed", "off" or empty (not given)
  std::optional<uint32_t> transferMicros;
  std::optional<uint32_t> byteNanos;
  std::optional<uint32_t> controlMicros;

  bool Given() const { return !timing.empty() || transferMicros || byteNanos || controlMicros; }
};

// Applies the options given: full-speed sets the model's full-speed figures
// and turns it on, off turns it off; a figure given alone tunes the model
// and turns it on.
void ApplyBusTimingOptions(const BusTimingOptions& options, sim::BusTiming* timing);

// "off", or "full-speed model: 500 us a transfer, 1000 ns a byte, 1000 us a
// control request".
std::string BusTimingText(const sim::BusTiming& timing);

}  // namespace orvik::tool
