#include "sim/statistics.h"

#include <cstdio>

namespace orvik::sim {

const char* TraceKindName(TraceEvent::Kind kind) {
  switch (kind) {
    case TraceEvent::Kind::kWrite:
      return "write";
    case TraceEvent::Kind::kRead:
      return "read";
    case TraceEvent::Kind::kControl:
      return "control";
  }
  return "?";
}

std::string FormatTraceEvent(const TraceEvent& event) {
  char prefix[96];
  if (event.kind == TraceEvent::Kind::kControl)
    std::snprintf(prefix, sizeof prefix, "control 0x%06X", event.code);
  else
    std::snprintf(prefix, sizeof prefix, "#%llu %s %u",
                  static_cast<unsigned long long>(event.transfer), TraceKindName(event.kind),
                  event.length);
  std::string line = prefix;
  if (!event.decoded.empty()) line += " [" + event.decoded + "]";
  if (!event.head.empty()) {
    line += " ";
    for (size_t i = 0; i < event.head.size() && i < 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", event.head[i]);
      line += hex;
    }
    if (event.head.size() > 16) line += "..";
  }
  char result[48];
  if (event.error == 0)
    std::snprintf(result, sizeof result, " -> ok %u", event.count);
  else
    std::snprintf(result, sizeof result, " -> error %u (%u bytes)", event.error, event.count);
  return line + result;
}

}  // namespace orvik::sim
