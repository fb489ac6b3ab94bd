// A player whose update was cut off is plugged in again, as its owner would:
// its boot loader starts the firmware only from a whole startup copy, so a
// cut that spoiled the copy leaves only the recovery device object, and an
// update through that object repairs the player.  The library's own images
// are what the player's startup check judges here.
#include <string>

#include "support/firmware_set.h"
#include "support/flash_snapshot.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

class StartupAfterCutUpdateTest : public SimPlayerTest {
 protected:
  static constexpr uint32_t kType = 3;  // 1024 blocks of 16 pages: the low blocks 1 to 3
  static constexpr uint32_t kBlockBytes = 16 * 512;
  static constexpr uint32_t kReserved = 24;

  void SetUp() override {
    // File 0 spans two low blocks, so that the update rewrites the startup
    // copy block by block.
    old_.Add('P', FILE_KIND_SREC, SRecordFile(kBlockBytes, 1, {1, 0, 0, 1}), {1, 2, 3});
    old_.Add('R', FILE_KIND_RAW, RawFile(kBlockBytes, 2, {2, 0, 0, 1}));
    new_.Add('P', FILE_KIND_SREC, SRecordFile(kBlockBytes + 900, 3, {1, 0, 0, 2}), {1, 2, 3});
    new_.Add('R', FILE_KIND_RAW, RawFile(kBlockBytes + 70, 4, {2, 0, 0, 2}));
    StartPlayer(kType);
    ReserveBlocks(kReserved, kBlockBytes);
    ASSERT_EQ(old_.Scan(kType), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(old_.FullFormat(kType, 1), PROGRAM_MEDIA_DONE);
    reflashed_ = TakeFlash(*player_);
  }

  // Closes the library's session and plugs the player in anew; the mode it
  // came up in.
  sim::StartMode Replug() {
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    player_->PlugIn();
    return player_->Startup().mode;
  }

  // The update run on the reflashed player; the transfer, counted from the
  // update's first, that erased the first low block.
  uint64_t FirstLowBlockErase() {
    uint64_t erase = 0, start = 0;
    player_->SetTrace([&](const sim::TraceEvent& event) {
      if (erase == 0 && event.decoded == "flash erase block 1") erase = event.transfer - start;
    });
    EXPECT_EQ(new_.Scan(kType), PROGRAM_MEDIA_DONE);
    start = player_->TransferCount();
    EXPECT_EQ(new_.Program(kType), PROGRAM_MEDIA_DONE);
    player_->SetTrace(nullptr);
    updateTransfers_ = player_->TransferCount() - start;
    return erase;
  }

  // The reflashed player, plugged in and opened normally, its update cut
  // off by a power cut after transfer n of the update.
  void CutUpdateAt(uint64_t n) {
    player_->SetFaults({});
    PutFlash(*player_, reflashed_);
    ASSERT_EQ(Replug(), sim::StartMode::kNormal) << player_->Startup().reason;
    ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
    ASSERT_EQ(new_.Scan(kType), PROGRAM_MEDIA_DONE);
    sim::FaultConfig faults;
    faults.powerCutAfterTransfer = n;
    player_->SetFaults(faults);
    new_.Program(kType);  // cut off (or done, when n is its last transfer)
    player_->SetFaults({});
  }

  // The update again through the object the player shows, as the host's
  // advice has it (`orvik update`, or `orvik update --recovery`).
  PROGRAM_MEDIA_STATUS UpdateThrough(DEVICE_STATUS mode) {
    if (OrvikOpenDriver(mode) != 1) return PROGRAM_MEDIA_NO_DEVICE;
    PROGRAM_MEDIA_STATUS scan = new_.Scan(kType);
    return scan != PROGRAM_MEDIA_DONE ? scan : new_.Program(kType);
  }

  FirmwareSet old_, new_;
  FlashImage reflashed_;
  uint64_t updateTransfers_ = 0;
};

TEST_F(StartupAfterCutUpdateTest, AnUpdateCutAtTheFirstLowEraseLeavesOnlyTheRecoveryObject) {
  // The full format's startup copy starts the player.
  ASSERT_EQ(Replug(), sim::StartMode::kNormal);
  EXPECT_EQ(player_->Startup().reason, "the startup copy is whole");
  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  const uint64_t erase = FirstLowBlockErase();
  ASSERT_GT(erase, 0u) << "the update erases the first low block";

  CutUpdateAt(erase);
  ASSERT_EQ(Replug(), sim::StartMode::kRecovery);
  EXPECT_EQ(player_->Startup().reason, "block 1 of the startup copy is erased");
  EXPECT_EQ(player_->ObjectName(), "OrvikRecDevice0");
  EXPECT_NE(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1) << "no normal device object";
  EXPECT_EQ(UpdateThrough(DEVICE_STATUS_RECOVERY), PROGRAM_MEDIA_DONE);

  EXPECT_EQ(Replug(), sim::StartMode::kNormal) << player_->Startup().reason;
  EXPECT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

// Wherever the update is cut, the player comes up as one of its objects,
// and the update through that object leaves it starting normally.  A cut
// before the first low erase or after the copy is rewritten keeps it normal.
TEST_F(StartupAfterCutUpdateTest, AnUpdateCutAnywhereIsRepairedThroughTheObjectThatAppears) {
  ASSERT_EQ(Replug(), sim::StartMode::kNormal);
  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  const uint64_t erase = FirstLowBlockErase();
  uint64_t recoveries = 0;
  for (uint64_t n : SweepPoints(updateTransfers_, 40)) {
    CutUpdateAt(n);
    const sim::StartMode mode = Replug();
    if (n < erase) {
      EXPECT_EQ(mode, sim::StartMode::kNormal) << "transfer " << n;
    }
    const bool recovery = mode == sim::StartMode::kRecovery;
    recoveries += recovery ? 1 : 0;
    EXPECT_NE(OrvikOpenDriver(recovery ? DEVICE_STATUS_NORMAL : DEVICE_STATUS_RECOVERY), 1)
        << "transfer " << n << ": one object only";
    PROGRAM_MEDIA_STATUS again =
        UpdateThrough(recovery ? DEVICE_STATUS_RECOVERY : DEVICE_STATUS_NORMAL);
    // A cut at the first erase of the reserved area asks for the host's
    // confirmation first (interrupted_update_test.cpp); the startup copy
    // is whole by then.
    if (again == PROGRAM_MEDIA_SYSTEM_MISMATCH) {
      EXPECT_FALSE(recovery) << "transfer " << n;
      continue;
    }
    EXPECT_EQ(again, PROGRAM_MEDIA_DONE) << "transfer " << n;
    EXPECT_EQ(Replug(), sim::StartMode::kNormal)
        << "transfer " << n << ": " << player_->Startup().reason;
    ASSERT_FALSE(HasFailure()) << "transfer " << n;
  }
  EXPECT_GT(recoveries, 0u) << "some cut points spoil the startup copy";
  RecordProperty("updateTransfers", std::to_string(updateTransfers_));
  RecordProperty("recoveries", std::to_string(recoveries));
}

}  // namespace
}  // namespace orvik::testing
