// The progress state and the progress exports.
#include "api/progress.h"

#include "api/library_context.h"
#include "orvik/orvik.h"
#include "platform/host_event.h"
#include "platform/os.h"

namespace orvik::api {

class ProgressState::Lock {
 public:
  explicit Lock(ProgressState& state) : state_(state) {
    while (state_.busy_.exchange(true, std::memory_order_acquire)) {
    }
  }
  ~Lock() { state_.busy_.store(false, std::memory_order_release); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  ProgressState& state_;
};

ProgressSnapshot ProgressState::Read() {
  Lock lock(*this);
  return ProgressSnapshot{phase_, percent_};
}

void ProgressState::SetPhaseValues(uint32_t phase, double percentage) {
  Lock lock(*this);
  phase_ = phase;
  if (percentage == 0.0) {
    percent_ = 0.0;
  } else {
    percent_ += percentage;
    if (percent_ > 100.0) percent_ = 100.0;
  }
}

void ProgressState::AddClamped(double increment) {
  Lock lock(*this);
  percent_ += increment;
  if (percent_ > 100.0) percent_ = 100.0;
}

void ProgressState::AddRaw(double increment) {
  Lock lock(*this);
  percent_ += increment;
}

void ProgressState::Store(double percent) {
  Lock lock(*this);
  percent_ = percent;
}

void ProgressState::SetPhase(uint32_t phase, double percentage, void* hostEvent) {
  SetPhaseValues(phase, percentage);
  if (os::EventHandle event = os::EventFromHost(hostEvent)) {
    os::Os& os = os::TheOs();
    os.ResetEvent(event);
    os.WaitEvent(event, kPhaseWaitMs);  // the host's signal or the limit, whichever first
  }
}

}  // namespace orvik::api

using orvik::api::Context;

extern "C" {

ORVIK_API int ORVIK_CALL OrvikSetPhase(ORVIK_ULONG phase, double percentage, void* event) {
  Context().Progress().SetPhase(phase, percentage, event);
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikGetProgress(double* percentage, ORVIK_ULONG* phase) {
  orvik::api::ProgressSnapshot snapshot = Context().Progress().Read();
  if (phase != nullptr) *phase = snapshot.phase;
  if (percentage != nullptr) *percentage = snapshot.percent;
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikSetProgress(double increment) {
  Context().Progress().AddClamped(increment);
  return 1;
}

}  // extern "C"
