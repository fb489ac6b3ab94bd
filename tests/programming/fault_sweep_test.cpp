// Every transfer and every page allocation of the firmware update and of
// the full format made to fail in turn: each run ends with a documented
// result, leaves the lock free and holds on to no buffer.
#include <future>
#include <set>

#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

class FaultSweepTest : public SimPlayerTest {
 protected:
  static constexpr uint32_t kType = 0;  // 256 blocks of 8 pages: a short sweep

  FaultSweepTest() {
    set_.Add('P', FILE_KIND_SREC, SRecordFile(3000, 1, {1, 0, 0, 1}), {1, 2, 3});
    set_.Add('R', FILE_KIND_RAW, RawFile(5000, 2, {2, 0, 0, 2}));
  }

  // A fresh player, scanned; formatted first when the update is swept.
  void Prepare(bool formatted) {
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    if (player_) player_->Unregister();
    StartPlayer(kType);
    ReserveBlocks(24, 4096);
    ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
    if (formatted) {
      ASSERT_EQ(set_.FullFormat(kType, 0), PROGRAM_MEDIA_DONE);
      ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
    }
  }

  PROGRAM_MEDIA_STATUS Run(bool update) {
    return update ? set_.Program(kType) : set_.FullFormat(kType, 1);
  }

  // Numbers (counted from the start of the call) of the transfers that
  // belong to erase exchanges, from a clean run.
  std::set<uint64_t> EraseTransfers(bool update, uint64_t* total) {
    Prepare(update);
    std::vector<sim::TraceEvent> events;
    uint64_t start = player_->TransferCount();
    player_->SetTrace([&](const sim::TraceEvent& event) {
      if (event.kind != sim::TraceEvent::Kind::kControl) events.push_back(event);
    });
    EXPECT_EQ(Run(update), PROGRAM_MEDIA_DONE);
    player_->SetTrace(nullptr);
    *total = player_->TransferCount() - start;
    std::set<uint64_t> erases;
    for (const auto& event : events) {
      bool eraseFrame = event.kind == sim::TraceEvent::Kind::kWrite && event.length == 15 &&
                        event.head.size() >= 2 && event.head[0] == 0x04 && event.head[1] == 0x01;
      if (eraseFrame) {
        erases.insert(event.transfer - start);
        erases.insert(event.transfer - start + 1);  // its reply
      }
    }
    return erases;
  }

  // The lock is free when another thread can take it.
  static bool LockIsFree() {
    auto other = std::async(std::launch::async, [] { return OrvikGetDeviceStatus(); });
    return other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  }

  void SweepTransfers(bool update, std::set<PROGRAM_MEDIA_STATUS> documented) {
    uint64_t total = 0;
    std::set<uint64_t> erases = EraseTransfers(update, &total);
    ASSERT_GT(total, 20u);
    for (uint64_t n = 1; n <= total; ++n) {
      Prepare(update);
      size_t held = os_.LiveAllocations();
      player_->AddTransferFault({n, sim::TransferFault::Kind::kError});
      PROGRAM_MEDIA_STATUS status = Run(update);
      EXPECT_TRUE(documented.count(status)) << "transfer " << n << ": " << status;
      // Only an erase whose failure is recorded as a bad block may pass.
      if (status == PROGRAM_MEDIA_DONE) {
        EXPECT_TRUE(erases.count(n)) << "transfer " << n;
      }
      EXPECT_EQ(os_.LiveAllocations(), held) << "transfer " << n;
      ASSERT_TRUE(LockIsFree()) << "transfer " << n;
    }
  }

  void SweepAllocations(bool update, std::set<PROGRAM_MEDIA_STATUS> documented) {
    Prepare(update);
    uint64_t before = os_.Allocations();
    ASSERT_EQ(Run(update), PROGRAM_MEDIA_DONE);
    uint64_t total = os_.Allocations() - before;
    ASSERT_GT(total, 2u);
    for (uint64_t n = 1; n <= total; ++n) {
      Prepare(update);
      size_t held = os_.LiveAllocations();
      os_.FailAllocationNumber(n);
      PROGRAM_MEDIA_STATUS status = Run(update);
      EXPECT_NE(status, PROGRAM_MEDIA_DONE) << "allocation " << n;
      EXPECT_TRUE(documented.count(status)) << "allocation " << n << ": " << status;
      EXPECT_EQ(os_.LiveAllocations(), held) << "allocation " << n;
      ASSERT_TRUE(LockIsFree());
    }
  }

  FirmwareSet set_;
};

TEST_F(FaultSweepTest, UpdateSurvivesEveryFailedTransfer) {
  SweepTransfers(true, {PROGRAM_MEDIA_DONE, PROGRAM_MEDIA_WRITE_FAILED});
}

TEST_F(FaultSweepTest, FullFormatSurvivesEveryFailedTransfer) {
  SweepTransfers(false,
                 {PROGRAM_MEDIA_DONE, PROGRAM_MEDIA_FORMAT_FAILED, PROGRAM_MEDIA_WRITE_FAILED});
}

TEST_F(FaultSweepTest, UpdateSurvivesEveryFailedAllocation) {
  SweepAllocations(true, {PROGRAM_MEDIA_NO_BUFFER, PROGRAM_MEDIA_WRITE_FAILED});
}

TEST_F(FaultSweepTest, FullFormatSurvivesEveryFailedAllocation) {
  SweepAllocations(
      false, {PROGRAM_MEDIA_NO_BUFFER, PROGRAM_MEDIA_FORMAT_FAILED, PROGRAM_MEDIA_WRITE_FAILED});
}

TEST_F(FaultSweepTest, DeviceThatDoesNotAnswerTheVersionRequestIsReported) {
  Prepare(true);
  player_->ResetStats();
  // Without a session the version request gets no answer: nothing is written.
  OrvikCloseDriver();
  EXPECT_EQ(Run(true), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(Run(false), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

}  // namespace
}  // namespace orvik::testing
