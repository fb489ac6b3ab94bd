// Phases and progress with the host's Win32 event.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "orvik/orvik.h"

namespace orvik::testing {
namespace {

struct Progress {
  double percent = -1;
  ORVIK_ULONG phase = 99;
};

Progress Read() {
  Progress p;
  OrvikGetProgress(&p.percent, &p.phase);
  return p;
}

class HostEvent {
 public:
  HostEvent() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~HostEvent() { CloseHandle(handle_); }
  HANDLE get() const { return handle_; }
  bool IsSet() const { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE handle_;
};

TEST(WindowsProgress, PhaseResetsAddsAndClampsAtOneHundred) {
  EXPECT_EQ(OrvikSetPhase(8, 0.0, nullptr), 1);
  EXPECT_EQ(Read().phase, 8u);
  EXPECT_EQ(Read().percent, 0.0);
  EXPECT_EQ(OrvikSetProgress(37.5), 1);
  OrvikSetPhase(8, 100.0, nullptr);
  EXPECT_EQ(Read().percent, 100.0);
  OrvikSetProgress(-10.0);
  EXPECT_EQ(Read().percent, 90.0);
}

TEST(WindowsProgress, UnsignalledEventIsResetAndHoldsThePhaseForTwoSeconds) {
  HostEvent event;
  SetEvent(event.get());  // reset by the phase change before the wait
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OrvikSetPhase(5, 0.0, event.get()), 1);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1990));
  EXPECT_LT(waited, std::chrono::milliseconds(2600));
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(Read().phase, 5u);
}

TEST(WindowsProgress, HostSignalReleasesThePhaseAtOnce) {
  HostEvent event;
  std::atomic<bool> stop{false};
  std::thread host([&] {
    while (!stop) {
      ORVIK_ULONG phase = 0;
      OrvikGetProgress(nullptr, &phase);
      if (phase == 7) SetEvent(event.get());
      Sleep(5);
    }
  });
  OrvikSetPhase(1, 0.0, nullptr);
  auto start = std::chrono::steady_clock::now();
  OrvikSetPhase(7, 0.0, event.get());
  auto waited = std::chrono::steady_clock::now() - start;
  stop = true;
  host.join();
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace orvik::testing
