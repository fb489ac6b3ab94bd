// The progress state and the progress exports.
#include "api/progress.h"

#include <atomic>

#include "orvik/orvik.h"
#include "platform/host_event.h"
#include "platform/os.h"

namespace orvik::api {
namespace {

struct ProgressState {
  std::atomic<bool> busy{false};
  uint32_t phase = 0;
  double percent = 0.0;
};

ProgressState gProgress;

class ProgressLock {
 public:
  ProgressLock() {
    while (gProgress.busy.exchange(true, std::memory_order_acquire)) {
    }
  }
  ~ProgressLock() { gProgress.busy.store(false, std::memory_order_release); }
};

void AddClampedLocked(double increment) {
  gProgress.percent += increment;
  if (gProgress.percent > 100.0) gProgress.percent = 100.0;
}

}  // namespace

ProgressSnapshot ReadProgress() {
  ProgressLock lock;
  return ProgressSnapshot{gProgress.phase, gProgress.percent};
}

void SetPhaseValues(uint32_t phase, double percentage) {
  ProgressLock lock;
  gProgress.phase = phase;
  if (percentage == 0.0)
    gProgress.percent = 0.0;
  else
    AddClampedLocked(percentage);
}

void AddClampedProgress(double increment) {
  ProgressLock lock;
  AddClampedLocked(increment);
}

void AddRawProgress(double increment) {
  ProgressLock lock;
  gProgress.percent += increment;
}

void StoreProgress(double percent) {
  ProgressLock lock;
  gProgress.percent = percent;
}

void SetPhase(uint32_t phase, double percentage, void* hostEvent) {
  SetPhaseValues(phase, percentage);
  if (os::EventHandle event = os::EventFromHost(hostEvent)) {
    os::Os& os = os::TheOs();
    os.ResetEvent(event);
    os.WaitEvent(event, kPhaseWaitMs);  // the host's signal or the limit, whichever first
  }
}

}  // namespace orvik::api

using namespace orvik::api;

extern "C" {

ORVIK_API int ORVIK_CALL OrvikSetPhase(ORVIK_ULONG phase, double percentage, void* event) {
  SetPhase(phase, percentage, event);
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikGetProgress(double* percentage, ORVIK_ULONG* phase) {
  ProgressSnapshot snapshot = ReadProgress();
  if (phase != nullptr) *phase = snapshot.phase;
  if (percentage != nullptr) *percentage = snapshot.percent;
  return 1;
}

ORVIK_API int ORVIK_CALL OrvikSetProgress(double increment) {
  AddClampedProgress(increment);
  return 1;
}

}  // extern "C"
