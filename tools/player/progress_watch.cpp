#include "player/progress_watch.h"

#include <algorithm>
#include <chrono>

#include "orvik/orvik.h"
#include "orvik/posix.h"

namespace orvik::tool {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

}  // namespace

std::string PhaseName(PhaseNames names, uint32_t phase) {
  switch (phase) {
    case ORVIK_PHASE_SCAN:
      return "Scanning blocks";
    case ORVIK_PHASE_FORMAT_ERASE:
      return "Erasing";
    case ORVIK_PHASE_SYSTEM_LAYOUT:
      return names == PhaseNames::kUpdate ? "Clearing unused system blocks"
                                          : "Laying out system area";
    case ORVIK_PHASE_FIRMWARE:
      return "Writing firmware";
    case ORVIK_PHASE_LOGICAL_FORMAT:
      return "Writing file system";
    case ORVIK_PHASE_ERASE:
      return names == PhaseNames::kEraseData ? "Erasing data area" : "Erasing first zone";
    default:
      return "Phase " + std::to_string(phase);
  }
}

PhaseMonitor::PhaseMonitor(Events& events, PhaseNames names) : events_(events), names_(names) {
  event_ = OrvikPosixEventCreate();
  thread_ = std::thread([this] { Run(); });
}

PhaseMonitor::~PhaseMonitor() {
  Stop();
  if (event_ != nullptr) OrvikPosixEventClose(static_cast<OrvikPosixEvent*>(event_));
}

void PhaseMonitor::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  Poll();  // the state the operation ended in
  std::lock_guard<std::mutex> lock(traceMutex_);
  if (started_) Report(trace_.lastPhase, trace_.lastPercent, true);  // as far as it got
}

void PhaseMonitor::ExpectEnd(uint32_t phase, double percent) {
  std::lock_guard<std::mutex> lock(traceMutex_);
  if (percent <= 0.0 || percent >= 100.0) return;
  scaledPhase_ = phase;
  scaledEnd_ = percent;
}

PhaseTrace PhaseMonitor::Trace() const {
  std::lock_guard<std::mutex> lock(traceMutex_);
  return trace_;
}

void PhaseMonitor::Run() {
  while (!stop_) {
    Poll();
    if (event_ != nullptr) OrvikPosixEventSet(static_cast<OrvikPosixEvent*>(event_));
    std::this_thread::sleep_for(kPollInterval);
  }
}

void PhaseMonitor::Poll() {
  double percent = 0.0;
  ORVIK_ULONG phase = 0;
  OrvikGetProgress(&percent, &phase);
  std::lock_guard<std::mutex> lock(traceMutex_);
  // Phases 0 and 1 are the host's own (1 asks the next scan to report).
  if (phase <= ORVIK_PHASE_HOST_SCAN_REQUEST) return;
  bool newPhase =
      !started_ || phase != trace_.lastPhase || (percent == 0.0 && trace_.lastPercent >= 100.0);
  if (newPhase && started_) Report(trace_.lastPhase, 100.0, true);  // a later phase began
  if (newPhase) {
    trace_.phases.push_back(phase);
    started_ = true;
    timeLeft_.Restart();
  }
  trace_.lastPhase = phase;
  trace_.lastPercent = percent;
  Report(phase, percent, false);
}

void PhaseMonitor::Report(uint32_t phase, double percent, bool final) {
  if (phase == scaledPhase_) percent = std::min(100.0, percent * 100.0 / scaledEnd_);
  events_.Progress(ProgressUpdate{PhaseName(names_, phase), percent,
                                  final ? std::nullopt : timeLeft_.At(percent), final});
}

WorkBar::WorkBar(Events& events, std::string label) : events_(events), label_(std::move(label)) {
  events_.Progress(ProgressUpdate{label_, 0.0, std::nullopt, false});
}

WorkBar::~WorkBar() { Finish(); }

void WorkBar::Update(double percent) {
  if (finished_) return;
  const int whole = static_cast<int>(percent);
  if (whole == lastDrawn_) return;
  lastDrawn_ = whole;
  events_.Progress(ProgressUpdate{label_, percent, timeLeft_.At(percent), false});
}

void WorkBar::Finish() {
  if (finished_) return;
  finished_ = true;
  events_.Progress(ProgressUpdate{label_, 100.0, std::nullopt, true});
}

}  // namespace orvik::tool
