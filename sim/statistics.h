// What a simulated player counts and reports about its traffic.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace orvik::sim {

struct Statistics {
  std::map<uint32_t, uint64_t> framesByCommand;  // command word as received -> frames
  uint64_t exchanges = 0;  // exchanges completed (frame plus data phase or reply)
  uint64_t transfers = 0;  // writes and reads of the stream
  uint64_t writes = 0;
  uint64_t reads = 0;
  uint64_t controlRequests = 0;
  uint64_t bytesIn = 0;   // host to player (writes)
  uint64_t bytesOut = 0;  // player to host (reads and control output)
  uint64_t protocolViolations = 0;
  std::vector<std::string> violations;  // the first violations, described (at most 32 kept)
  uint64_t pagesRead = 0;
  uint64_t pagesProgrammed = 0;  // whole or half pages
  uint64_t blocksErased = 0;
  uint64_t cardBlocksRead = 0;
  uint64_t cardBlocksWritten = 0;
  uint64_t cardEraseCommands = 0;
  uint64_t connectionsOpened = 0;
  // Bus time the timing model charged for the transfers and control
  // requests above, in microseconds (0 while the model is off).
  uint64_t busMicros = 0;
};

// One transfer or control request as the player saw it, for a trace.
struct TraceEvent {
  enum class Kind { kWrite, kRead, kControl };
  Kind kind = Kind::kWrite;
  uint64_t transfer = 0;      // number of the transfer (0 for control requests)
  uint32_t length = 0;        // bytes written, read length asked for, or output size
  uint32_t count = 0;         // bytes the answer reports
  uint32_t error = 0;         // 0 or the error number of the answer
  uint32_t code = 0;          // control code
  std::vector<uint8_t> head;  // first bytes moved (at most 32)
  std::string decoded;        // what the player made of it ("flash read pages ...")
};

using TraceCallback = std::function<void(const TraceEvent&)>;

const char* TraceKindName(TraceEvent::Kind kind);
// A one-line description of an event: "write 21 [flash read pages ...] -> ok 21".
std::string FormatTraceEvent(const TraceEvent& event);

}  // namespace orvik::sim
