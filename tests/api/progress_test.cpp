// Phases and progress, and the host's event.
#include "api/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "api/library_context.h"
#include "orvik/posix.h"

namespace orvik::testing {
namespace {

struct Progress {
  double percent;
  ORVIK_ULONG phase;
};

Progress Read() {
  Progress p{-1, 99};
  OrvikGetProgress(&p.percent, &p.phase);
  return p;
}

TEST(Progress, PhaseStartsAtZeroAndAddsClampedAtOneHundred) {
  EXPECT_EQ(OrvikSetPhase(8, 0.0, nullptr), 1);
  EXPECT_EQ(Read().phase, 8u);
  EXPECT_EQ(Read().percent, 0.0);
  OrvikSetProgress(37.5);
  EXPECT_EQ(Read().percent, 37.5);
  OrvikSetPhase(8, 100.0, nullptr);
  EXPECT_EQ(Read().percent, 100.0);  // not 137.5
  OrvikSetProgress(5.0);
  EXPECT_EQ(Read().percent, 100.0);
  OrvikSetProgress(-10.0);
  EXPECT_EQ(Read().percent, 90.0);  // no lower clamp
  OrvikSetPhase(3, 20.0, nullptr);  // a non-zero percentage adds
  EXPECT_EQ(Read().phase, 3u);
  EXPECT_EQ(Read().percent, 100.0);
  OrvikSetPhase(3, 0.0, nullptr);
  OrvikSetPhase(3, -5.0, nullptr);
  EXPECT_EQ(Read().percent, -5.0);
}

TEST(Progress, NullPointersAreSkipped) {
  OrvikSetPhase(4, 0.0, nullptr);
  double percent = 1;
  EXPECT_EQ(OrvikGetProgress(&percent, nullptr), 1);
  EXPECT_EQ(percent, 0.0);
  ORVIK_ULONG phase = 0;
  EXPECT_EQ(OrvikGetProgress(nullptr, &phase), 1);
  EXPECT_EQ(phase, 4u);
}

TEST(Progress, RawAdditionsForCardOperationsAreNotClamped) {
  OrvikSetPhase(8, 0.0, nullptr);
  api::LibraryProgress target(api::Context().Progress(), nullptr);
  for (int i = 0; i < 150; ++i) target.Add(1.0);
  EXPECT_EQ(Read().percent, 150.0);
  target.Store(100.0);
  EXPECT_EQ(Read().percent, 100.0);
}

TEST(Progress, UnsignalledEventHoldsThePhaseForTwoSeconds) {
  OrvikPosixEvent* event = OrvikPosixEventCreate();
  ASSERT_NE(event, nullptr);
  OrvikPosixEventSet(event);  // reset by the phase change before the wait
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OrvikSetPhase(5, 0.0, event), 1);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1990));
  EXPECT_LT(waited, std::chrono::milliseconds(2600));
  OrvikPosixEventClose(event);
}

TEST(Progress, HostSignalReleasesThePhaseAtOnce) {
  OrvikPosixEvent* event = OrvikPosixEventCreate();
  std::atomic<bool> stop{false};
  std::thread host([&] {
    while (!stop) {
      ORVIK_ULONG phase = 0;
      OrvikGetProgress(nullptr, &phase);
      if (phase == 7) OrvikPosixEventSet(event);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  auto start = std::chrono::steady_clock::now();
  OrvikSetPhase(7, 0.0, event);
  auto waited = std::chrono::steady_clock::now() - start;
  stop = true;
  host.join();
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  OrvikPosixEventClose(event);
}

// A poller reads phase and percentage while an operation writes them; under
// ThreadSanitizer this must stay quiet.  Each phase starts at 0 and only
// grows, so a pair read across two updates (the new phase with the old
// percentage) shows up as a percentage that falls within one phase.
TEST(Progress, PollerSeesEveryPairAsItWasPublished) {
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<long> reads{0};
  std::thread poller([&] {
    Progress last{0.0, 0};
    while (!done) {
      Progress p = Read();
      ++reads;
      if (p.phase == last.phase && p.percent < last.percent) ++torn;
      if (p.phase < last.phase) ++torn;
      last = p;
    }
  });
  OrvikSetPhase(1000, 0.0, nullptr);
  while (reads.load() == 0) std::this_thread::yield();
  for (ORVIK_ULONG phase = 1001; phase < 3001 || reads.load() < 20000; ++phase) {
    OrvikSetPhase(phase, 0.0, nullptr);
    for (int step = 0; step < 10; ++step) OrvikSetProgress(9.5);
  }
  done = true;
  poller.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace orvik::testing
