// Follows a long library operation as a host does: a second thread polls
// OrvikGetProgress, reports the phase in words and its percentage as
// progress events, and signals the host event that the operation waits on
// at every phase boundary, so that no boundary waits out the library's
// 2000 ms limit.
//
//   PhaseMonitor monitor(events, PhaseNames::kFullFormat);
//   status = OrvikFatFormatEx(..., monitor.Event());
//   monitor.Stop();                   // also done by the destructor
//   PhaseTrace trace = monitor.Trace();
//
// The library resets the event and then waits on it, so a signal given
// before the reset is lost; the monitor therefore signals on every poll
// (every few milliseconds), which releases each wait within one poll.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/events.h"
#include "player/time_left.h"

namespace orvik::tool {

// Which operation's words to use for the phase numbers (the same number
// means different work in different operations).
enum class PhaseNames { kScan, kFullFormat, kUpdate, kQuickFormat, kEraseData, kCard };

// The words for a phase of an operation ("Writing firmware").
std::string PhaseName(PhaseNames names, uint32_t phase);

struct PhaseTrace {
  std::vector<uint32_t> phases;  // phases seen, in order, each once per start
  uint32_t lastPhase = 0;
  double lastPercent = 0.0;
};

class PhaseMonitor {
 public:
  PhaseMonitor(Events& events, PhaseNames names);
  ~PhaseMonitor();
  PhaseMonitor(const PhaseMonitor&) = delete;
  PhaseMonitor& operator=(const PhaseMonitor&) = delete;

  // The library's percentage for `phase` stops at `percent` when its work is
  // done (a step counted against a nominal size, such as the quick
  // format's erase of the first zone, which skips the zone's system and bad
  // blocks): the percentage shown and the time left follow the work instead.
  void ExpectEnd(uint32_t phase, double percent);

  // The host event to pass to the operation (an OrvikPosixEvent on POSIX).
  void* Event() const { return event_; }
  // Stops polling after one last look, and reports how far the last phase
  // got.
  void Stop();
  PhaseTrace Trace() const;

 private:
  void Run();
  void Poll();
  void Report(uint32_t phase, double percent, bool final);

  Events& events_;
  PhaseNames names_;
  void* event_ = nullptr;
  std::atomic<bool> stop_{false};
  mutable std::mutex traceMutex_;
  PhaseTrace trace_;
  bool started_ = false;      // a phase other than 0/1 has been seen
  uint32_t scaledPhase_ = 0;  // ExpectEnd's phase (0: none)
  double scaledEnd_ = 100.0;
  TimeLeftEstimate timeLeft_;
  std::thread thread_;
};

// Progress of work the tool paces itself (card transfers, page reads),
// reported from the calling thread as the phase monitor reports a phase.
class WorkBar {
 public:
  WorkBar(Events& events, std::string label);
  ~WorkBar();
  void Update(double percent);
  void Finish();

 private:
  Events& events_;
  std::string label_;
  TimeLeftEstimate timeLeft_;
  bool finished_ = false;
  int lastDrawn_ = -1;
};

}  // namespace orvik::tool
