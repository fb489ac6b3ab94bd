#include "output/progress_monitor.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "orvik/orvik.h"
#include "orvik/posix.h"

namespace orvik::tool {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr int kBarWidth = 30;

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

std::string FormatBar(const std::string& label, double percent, int width) {
  if (!(percent >= 0.0)) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  int filled = static_cast<int>(std::lround(percent * width / 100.0));
  std::string bar = label;
  while (bar.size() < 30) bar += ' ';
  bar += " [";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '-');
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%", static_cast<int>(percent));
  return bar + tail;
}

PhaseMonitor::PhaseMonitor(Console& console, PhaseNames names) : console_(console), names_(names) {
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
  if (started_) Draw(trace_.lastPhase, trace_.lastPercent, true);  // as far as it got
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
  if (newPhase && started_) Draw(trace_.lastPhase, 100.0, true);  // a later phase began
  if (newPhase) {
    trace_.phases.push_back(phase);
    started_ = true;
  }
  trace_.lastPhase = phase;
  trace_.lastPercent = percent;
  if (newPhase && !console_.BarAllowed() && !console_.Json())
    console_.Line("  " + PhaseName(names_, phase) + " ...");
  if (console_.BarAllowed()) Draw(phase, percent, false);
}

void PhaseMonitor::Draw(uint32_t phase, double percent, bool final) {
  if (!console_.BarAllowed()) return;
  std::lock_guard<std::mutex> terminal(console_.TerminalMutex());
  std::string line = FormatBar("  " + PhaseName(names_, phase), percent, kBarWidth);
  std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), final ? "\n" : "");
  std::fflush(stderr);
  console_.SetBarDrawn(!final);
}

WorkBar::WorkBar(Console& console, std::string label)
    : console_(console), label_(std::move(label)) {
  if (!console_.BarAllowed() && !console_.Json()) console_.Line("  " + label_ + " ...");
}

WorkBar::~WorkBar() { Finish(); }

void WorkBar::Update(double percent) {
  if (!console_.BarAllowed() || finished_) return;
  int whole = static_cast<int>(percent);
  if (whole == lastDrawn_) return;
  lastDrawn_ = whole;
  std::lock_guard<std::mutex> terminal(console_.TerminalMutex());
  std::fprintf(stderr, "\r\033[K%s", FormatBar("  " + label_, percent, kBarWidth).c_str());
  std::fflush(stderr);
  console_.SetBarDrawn(true);
}

void WorkBar::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!console_.BarAllowed()) return;
  std::lock_guard<std::mutex> terminal(console_.TerminalMutex());
  std::fprintf(stderr, "\r\033[K%s\n", FormatBar("  " + label_, 100.0, kBarWidth).c_str());
  console_.SetBarDrawn(false);
}

}  // namespace orvik::tool
