// Exports run two at a time against a simulated player, as a host with a
// worker thread and a monitor thread runs them.  The global lock keeps the
// drive's table and the session alive under a running operation; the
// session lock keeps every exchange whole, so the player never sees the
// frames of two threads interleaved (it counts every frame out of place as
// a protocol violation).  Meant to run under ThreadSanitizer and
// AddressSanitizer.  Every race runs twice; 1000 times in the full sweep
// (ORVIK_FULL_SWEEPS=1), or ORVIK_RACE_REPETITIONS times.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>

#include "api/library_context.h"
#include "orvik/posix.h"
#include "protocol/media_state.h"
#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

constexpr uint32_t kType = 3;  // 1024 blocks of 16 pages
constexpr uint32_t kReservedBlocks = 16;
constexpr uint32_t kBlockBytes = 8192;

int Repetitions() {
  const char* text = std::getenv("ORVIK_RACE_REPETITIONS");
  int count = text != nullptr ? std::atoi(text) : 0;
  if (count > 0) return count;
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  return full != nullptr && full[0] != '\0' && std::strcmp(full, "0") != 0 ? 1000 : 2;
}

class ExportPairsTest : public SimPlayerTest {
 public:
  void SetUp() override {
    StartPlayer(kType);
    ReserveBlocks(kReservedBlocks, kBlockBytes);
    set_.Add('P', FILE_KIND_RAW, RawFile(20000, 1, {1, 2, 3, 4}));
    ASSERT_EQ(Scan(), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(set_.FullFormat(kType, 1), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(Scan(), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(QuickFormat(), PROGRAM_MEDIA_DONE);
  }

  // Each call has its own copy of the host's record: hosts do not share one
  // between threads.
  long Scan() {
    ORVIK_ULONG types[1] = {kType};
    _BinaryFilesInformation files = set_.Record();
    return OrvikBuildBlockStatus(types, 0, 0, &files, nullptr);
  }
  long FirmwareVersions() {
    ORVIK_ULONG types[1] = {kType};
    _BinaryFilesInformation files = set_.Record();
    return OrvikGetFirmwareVersion(types, 0, &files);
  }
  long QuickFormat() {
    ORVIK_ULONG types[1] = {kType};
    return OrvikQuickFormatPelk(types, 0, 0, nullptr, nullptr);
  }
  long Program() { return set_.Program(kType); }

  // Card exports in a loop: the number that failed.
  static long CardExports() {
    long failed = 0;
    uint8_t block[512];
    for (uint32_t i = 0; i < 8; ++i) {
      _MMC_CSD csd{};
      unsigned char status = 0;
      failed += OrvikMMCReadCSD(0, &csd, &status) == 1 ? 0 : 1;
      failed += OrvikMMCReadBlock(0, 1000 + i, block) == 1 ? 0 : 1;
      failed += OrvikMMCWriteBlock(0, 1000 + i, block) == 1 ? 0 : 1;
    }
    return failed;
  }
  // Driver-level and status exports in a loop: the number that failed.
  static long DriverExports() {
    long failed = 0;
    for (int i = 0; i < 8; ++i) {
      ORVIK_ULONG word = 0;
      _USER_DATA record{};
      failed += OrvikDDGetDeviceVersion(&word) == 1 ? 0 : 1;
      failed += OrvikDDGetStatus(&record) == 1 ? 0 : 1;
      failed += OrvikDDGetDeviceStatus() == DEVICE_STATUS_NORMAL ? 0 : 1;
      failed += OrvikGetPowerStatus(&word) == ACCESS_DEVICE_ANSWERED ? 0 : 1;
      failed += OrvikGetChipId(1) == CHIP_MODEL_LATER ? 0 : 1;
    }
    return failed;
  }

  FirmwareSet set_;
};

// Runs both at once (both released by one latch) and returns their results.
std::pair<long, long> RunTogether(const std::function<long()>& first,
                                  const std::function<long()>& second) {
  std::latch start(2);
  long secondResult = -1;
  std::thread other([&] {
    start.arrive_and_wait();
    secondResult = second();
  });
  start.arrive_and_wait();
  long firstResult = first();
  other.join();
  return {firstResult, secondResult};
}

struct ExportPair {
  const char* name;
  std::function<long(ExportPairsTest&)> first;
  std::set<long> firstResults;  // what it may answer, depending on which ran first
  std::function<long(ExportPairsTest&)> second;
  std::set<long> secondResults;
  bool reopen = false;  // the pair closes the session
};

TEST_F(ExportPairsTest, PairsOfExportsRunTogetherWithoutInterleavingOrFreeingUnderEachOther) {
  const ExportPair pairs[] = {
      // The scan replaces the table the update writes from: one waits.
      {"program / scan",
       &ExportPairsTest::Program,
       {PROGRAM_MEDIA_DONE},
       &ExportPairsTest::Scan,
       {PROGRAM_MEDIA_DONE}},
      // Released first, the update has no table (3); else the release waits.
      {"program / free",
       &ExportPairsTest::Program,
       {PROGRAM_MEDIA_DONE, PROGRAM_MEDIA_NO_DEVICE},
       [](ExportPairsTest&) { return long{OrvikFreeMemoryDevice(0)}; },
       {1}},
      {"version query / free",
       &ExportPairsTest::FirmwareVersions,
       {PROGRAM_MEDIA_DONE},
       [](ExportPairsTest&) { return long{OrvikFreeMemoryDevice(0)}; },
       {1}},
      // Closed first, the operation finds no device (3); else the close waits.
      {"program / close",
       &ExportPairsTest::Program,
       {PROGRAM_MEDIA_DONE, PROGRAM_MEDIA_NO_DEVICE},
       [](ExportPairsTest&) { return long{OrvikCloseDriver()}; },
       {1},
       true},
      {"quick format / close",
       &ExportPairsTest::QuickFormat,
       {PROGRAM_MEDIA_DONE, PROGRAM_MEDIA_NO_DEVICE},
       [](ExportPairsTest&) { return long{OrvikCloseDriver()}; },
       {1},
       true},
      // The card exports take no global lock: their exchanges fall between
      // the format's, and every one of both succeeds.
      {"quick format / card exports",
       &ExportPairsTest::QuickFormat,
       {PROGRAM_MEDIA_DONE},
       [](ExportPairsTest&) { return ExportPairsTest::CardExports(); },
       {0}},
      {"program / driver exports",
       &ExportPairsTest::Program,
       {PROGRAM_MEDIA_DONE},
       [](ExportPairsTest&) { return ExportPairsTest::DriverExports(); },
       {0}},
      {"card exports / driver exports",
       [](ExportPairsTest&) { return ExportPairsTest::CardExports(); },
       {0},
       [](ExportPairsTest&) { return ExportPairsTest::DriverExports(); },
       {0}},
  };
  const int repetitions = Repetitions();
  for (const ExportPair& pair : pairs) {
    SCOPED_TRACE(pair.name);
    for (int round = 0; round < repetitions; ++round) {
      ASSERT_EQ(Scan(), PROGRAM_MEDIA_DONE);
      auto [first, second] =
          RunTogether([&] { return pair.first(*this); }, [&] { return pair.second(*this); });
      EXPECT_TRUE(pair.firstResults.count(first)) << "first answered " << first;
      EXPECT_TRUE(pair.secondResults.count(second)) << "second answered " << second;
      if (pair.reopen) {
        ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
      }
      ASSERT_EQ(player_->Stats().protocolViolations, 0u) << "round " << round;
    }
  }
  // Whatever ran in which order, the player holds the update whole.
  ASSERT_EQ(Scan(), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.FirmwareVersions(kType), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(set_.Record().deviceVersionA[0][0], 1);
  EXPECT_EQ(set_.Record().deviceVersionB[0][1], 4);
}

// A host's monitor thread that calls a locking export while the operation
// waits for it at a phase boundary cannot release the operation: the
// operation waits out each phase's limit (2 s) and goes on, and the
// monitor's call runs when it ends.  Slow, never stuck.
TEST_F(ExportPairsTest, AMonitorCallingALockingExportAtAPhaseWaitOnlyDelaysTheOperation) {
  OrvikPosixEvent* event = OrvikPosixEventCreate();
  ASSERT_NE(event, nullptr);
  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, nullptr);
  std::atomic<bool> released{false};
  std::thread monitor([&] {
    ORVIK_ULONG phase = 0;
    while (phase != ORVIK_PHASE_SCAN) OrvikGetProgress(nullptr, &phase);
    OrvikFreeMemoryDevice(0);  // instead of setting the event
    released = true;
    OrvikPosixEventSet(event);
  });
  auto start = std::chrono::steady_clock::now();
  ORVIK_ULONG types[1] = {kType};
  _BinaryFilesInformation files = set_.Record();
  EXPECT_EQ(OrvikBuildBlockStatus(types, 0, 0, &files, event), PROGRAM_MEDIA_DONE);
  monitor.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(released);
  EXPECT_TRUE(api::Context().DriveState(0)->blockStatus.empty());  // released after the scan
  OrvikPosixEventClose(event);
}

}  // namespace
}  // namespace orvik::testing
