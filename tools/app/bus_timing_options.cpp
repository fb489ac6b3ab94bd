#include "app/bus_timing_options.h"

#include <fmt/format.h>

namespace orvik::tool {
namespace {

constexpr const char* kFullSpeed = "full-speed";
constexpr const char* kOff = "off";

}  // namespace

void ApplyBusTimingOptions(const BusTimingOptions& options, sim::BusTiming* timing) {
  if (options.timing == kFullSpeed) *timing = sim::BusTiming{};
  if (options.transferMicros) timing->transferMicros = *options.transferMicros;
  if (options.byteNanos) timing->byteNanos = *options.byteNanos;
  if (options.controlMicros) timing->controlMicros = *options.controlMicros;
  if (options.Given()) timing->enabled = options.timing != kOff;
}

std::string BusTimingText(const sim::BusTiming& timing) {
  if (!timing.enabled) return kOff;
  const sim::BusTiming fullSpeed;
  const bool standard = timing.transferMicros == fullSpeed.transferMicros &&
                        timing.byteNanos == fullSpeed.byteNanos &&
                        timing.controlMicros == fullSpeed.controlMicros;
  return fmt::format("{}: {} us a transfer, {} ns a byte, {} us a control request",
                     standard ? "full-speed" : "tuned", timing.transferMicros, timing.byteNanos,
                     timing.controlMicros);
}

}  // namespace orvik::tool
