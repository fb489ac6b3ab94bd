// An update cut off anywhere (the power lost after transfer N, or transfer N
// failing) is repaired by the next update: the system area ends as an
// uninterrupted update leaves it, block for block, and the user's volume is
// never touched.  A reservation raised since the layout is still refused
// with nothing written.
#include <ostream>
#include <string>

#include "api/library_context.h"
#include "api/program_media.h"
#include "media/block_status.h"
#include "media/update_recovery.h"
#include "protocol/ecc.h"
#include "protocol/media_state.h"
#include "support/firmware_set.h"
#include "support/flash_snapshot.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

constexpr uint32_t kReserved = 24;

enum class Cut { kPower, kFailedTransfer };

// Small one-zone flashes: type 0 keeps no version words (8 pages a block),
// type 3 does (16 pages a block).
struct Geometry {
  uint32_t type;
  uint32_t pagesPerBlock;
  uint32_t blockCount;
  uint32_t BlockBytes() const { return pagesPerBlock * 512; }
  uint32_t FirstReserved() const { return blockCount - kReserved; }
};
void PrintTo(const Geometry& g, std::ostream* out) { *out << "flash type " << g.type; }

class InterruptedUpdateTest : public SimPlayerTest, public ::testing::WithParamInterface<Geometry> {
 protected:
  void SetUp() override {
    const uint32_t bytes = g_.BlockBytes();
    // File 0 takes two blocks, D one, R three (R grows in the new set).
    old_.Add('P', FILE_KIND_SREC, SRecordFile(bytes, 1, {1, 0, 0, 1}), {1, 2, 3});
    old_.Add('D', FILE_KIND_SREC, SRecordFile(bytes / 3, 2, {3, 0, 0, 1}));
    old_.Add('R', FILE_KIND_RAW, RawFile(bytes * 2, 3, {2, 0, 0, 1}));
    new_.Add('P', FILE_KIND_SREC, SRecordFile(bytes + 300, 4, {1, 0, 0, 2}), {1, 2, 3});
    new_.Add('D', FILE_KIND_SREC, SRecordFile(bytes / 3 + 90, 5, {3, 0, 0, 2}));
    new_.Add('R', FILE_KIND_RAW, RawFile(bytes * 2 + 600, 6, {2, 0, 0, 2}));
    StartPlayer(g_.type);
    ReserveBlocks(kReserved, g_.BlockBytes());
    ASSERT_EQ(old_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(old_.FullFormat(g_.type, 1), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(old_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    ORVIK_ULONG types[1] = {g_.type};
    ASSERT_EQ(OrvikQuickFormatPelk(types, 0, 0, &old_.Record(), nullptr), PROGRAM_MEDIA_DONE);
    WriteUserFiles();
    before_ = TakeFlash(*player_);

    ASSERT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    uint64_t start = player_->TransferCount();
    ASSERT_EQ(new_.Program(g_.type), PROGRAM_MEDIA_DONE);
    updateTransfers_ = player_->TransferCount() - start;
    reference_ = TakeFlash(*player_);
    // The reference update writes the system area only.
    for (uint32_t block : DifferingBlocks(before_, reference_, g_.pagesPerBlock))
      ASSERT_TRUE(IsSystemAreaBlock(block)) << "block " << block;
  }

  bool IsSystemAreaBlock(uint32_t block) {
    return (block >= 1 && block <= 3) || block >= g_.FirstReserved();
  }

  // Volume blocks the player's own file writing would leave: random data
  // with a block-address field, in free blocks, up to the one right under
  // the reserved area.
  void WriteUserFiles() {
    for (uint32_t block : {40u, 77u, 150u, g_.FirstReserved() - 1}) {
      ASSERT_TRUE(player_->IsBlockErased(block));
      Bytes data = RandomBytes(g_.BlockBytes(), block);
      uint16_t address = protocol::EncodeBlockAddress(100 + block);
      for (uint32_t page = 0; page < g_.pagesPerBlock; ++page) {
        sim::RawPage raw;
        raw.fill(0xFF);
        std::copy_n(data.begin() + page * 512, 512, raw.begin());
        raw[512 + 6] = raw[512 + 11] = static_cast<uint8_t>(address);
        raw[512 + 7] = raw[512 + 12] = static_cast<uint8_t>(address >> 8);
        player_->ProgramPage(block * g_.pagesPerBlock + page, raw);
      }
    }
  }

  // Back to the state before the update, the player powered and reopened.
  void Restart(const FlashImage& image) {
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    player_->SetFaults({});
    player_->RestorePower();
    PutFlash(*player_, image);
    ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  }

  // The update cut off at transfer n, then run again as a host would (scan,
  // update).  True when the second update succeeded on its own; false when
  // it was refused and the host's assessment and confirmed repair were
  // needed.
  bool CutAndUpdateAgain(Cut cut, uint64_t n) {
    Restart(before_);
    EXPECT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    if (cut == Cut::kPower) {
      sim::FaultConfig faults;
      faults.powerCutAfterTransfer = n;
      player_->SetFaults(faults);
    } else {
      player_->AddTransferFault({n, sim::TransferFault::Kind::kError});
    }
    PROGRAM_MEDIA_STATUS first = new_.Program(g_.type);
    EXPECT_TRUE(first == PROGRAM_MEDIA_DONE || first == PROGRAM_MEDIA_WRITE_FAILED)
        << "transfer " << n << ": " << first;
    if (cut == Cut::kPower) Restart(TakeFlash(*player_));
    EXPECT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    PROGRAM_MEDIA_STATUS again = new_.Program(g_.type);
    if (again == PROGRAM_MEDIA_DONE) return true;
    EXPECT_EQ(again, PROGRAM_MEDIA_SYSTEM_MISMATCH) << "transfer " << n;
    // The host's way out: it assesses the flash and, told of an interrupted
    // update, confirms the reservation.
    EXPECT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    EXPECT_EQ(media::AssessSystemArea(api::Context().FlashDriveFor(0)).verdict,
              media::SystemAreaVerdict::kInterruptedUpdate)
        << "transfer " << n;
    ORVIK_ULONG types[1] = {g_.type};
    api::ProgramOptions confirmed;
    confirmed.assumeLaidOutReservation = true;
    EXPECT_EQ(api::ProgramMedia(types, 0, new_.Data(), new_.Lengths(), new_.PrefixData(),
                                new_.PrefixLengths(), &new_.Record(), nullptr, confirmed),
              PROGRAM_MEDIA_DONE)
        << "transfer " << n;
    return false;
  }

  void Sweep(Cut cut) {
    std::vector<uint64_t> refused;
    for (uint64_t n : SweepPoints(updateTransfers_)) {
      if (!CutAndUpdateAgain(cut, n)) refused.push_back(n);
      EXPECT_TRUE(DifferingBlocks(TakeFlash(*player_), reference_, g_.pagesPerBlock).empty())
          << "transfer " << n;
      ASSERT_FALSE(HasFailure()) << "transfer " << n;
    }
    // Only a cut right at the first erase of the reserved area leaves the
    // lone erased block the update does not settle by itself.
    EXPECT_LE(refused.size(), 3u) << ::testing::PrintToString(refused);
    RecordProperty("refusedCutPoints", ::testing::PrintToString(refused));
    RecordProperty("updateTransfers", std::to_string(updateTransfers_));
  }

  const Geometry g_ = GetParam();

  FirmwareSet old_;
  FirmwareSet new_;
  FlashImage before_;
  FlashImage reference_;
  uint64_t updateTransfers_ = 0;
};

TEST_P(InterruptedUpdateTest, PowerCutAnywhereIsRepairedByTheNextUpdate) { Sweep(Cut::kPower); }

TEST_P(InterruptedUpdateTest, FailedTransferAnywhereIsRepairedByTheNextUpdate) {
  Sweep(Cut::kFailedTransfer);
}

// A reservation raised by 1 to 3 blocks since the layout, with the blocks
// under the reserved area erased or holding the user's files: refused with
// 9, nothing written or erased.
TEST_P(InterruptedUpdateTest, RaisedReservationIsRefusedWithNothingWritten) {
  for (bool volumeBelow : {false, true}) {
    for (uint32_t more = 1; more <= 3; ++more) {
      Restart(before_);
      if (!volumeBelow) {
        for (uint32_t block = g_.FirstReserved() - more; block < g_.FirstReserved(); ++block)
          player_->EraseBlock(block);
      }
      ReserveBlocks(kReserved + more, g_.BlockBytes());
      ASSERT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
      FlashImage scanned = TakeFlash(*player_);
      player_->ResetStats();
      EXPECT_EQ(new_.Program(g_.type), PROGRAM_MEDIA_SYSTEM_MISMATCH) << more;
      EXPECT_EQ(Frames(0x101) + Frames(0x100) + Frames(0x104), 0u) << more;
      EXPECT_TRUE(DifferingBlocks(TakeFlash(*player_), scanned, g_.pagesPerBlock).empty()) << more;
      EXPECT_EQ(media::AssessSystemArea(api::Context().FlashDriveFor(0)).verdict,
                media::SystemAreaVerdict::kReservationChanged)
          << more << (volumeBelow ? " over the volume" : " over erased blocks");
    }
  }
}

// The full reflash (scan, full format with the files, scan, quick format) cut
// off anywhere and run again leaves the flash an uninterrupted one leaves.
TEST_P(InterruptedUpdateTest, PowerCutAnywhereInTheReflashIsMendedByTheNextReflash) {
  auto reflash = [&] {
    ORVIK_ULONG types[1] = {g_.type};
    return new_.Scan(g_.type) == PROGRAM_MEDIA_DONE &&
           new_.FullFormat(g_.type, 1) == PROGRAM_MEDIA_DONE &&
           new_.Scan(g_.type) == PROGRAM_MEDIA_DONE &&
           OrvikQuickFormatPelk(types, 0, 0, &new_.Record(), nullptr) == PROGRAM_MEDIA_DONE;
  };
  Restart(before_);
  uint64_t start = player_->TransferCount();
  ASSERT_TRUE(reflash());
  const uint64_t total = player_->TransferCount() - start;
  const FlashImage reflashed = TakeFlash(*player_);
  for (uint64_t n : SweepPoints(total)) {
    Restart(before_);
    sim::FaultConfig faults;
    faults.powerCutAfterTransfer = n;
    player_->SetFaults(faults);
    reflash();
    Restart(TakeFlash(*player_));
    ASSERT_TRUE(reflash()) << "transfer " << n;
    ASSERT_TRUE(DifferingBlocks(TakeFlash(*player_), reflashed, g_.pagesPerBlock).empty())
        << "transfer " << n;
  }
}

// A table the version query (file markers) or an earlier update changed is
// read again before files are placed: the update ends as after a fresh scan.
TEST_P(InterruptedUpdateTest, StaleTableIsReadAgainBeforeTheUpdate) {
  for (bool versionQueryFirst : {true, false}) {
    Restart(before_);
    ASSERT_EQ(new_.Scan(g_.type), PROGRAM_MEDIA_DONE);
    if (versionQueryFirst) {
      ASSERT_EQ(new_.FirmwareVersions(g_.type), PROGRAM_MEDIA_DONE);
    } else {
      ASSERT_EQ(new_.Program(g_.type), PROGRAM_MEDIA_DONE);
    }
    EXPECT_EQ(new_.Program(g_.type), PROGRAM_MEDIA_DONE);
    EXPECT_TRUE(DifferingBlocks(TakeFlash(*player_), reference_, g_.pagesPerBlock).empty())
        << (versionQueryFirst ? "after a version query" : "after an earlier update");
  }
}

// Cut off while it rewrote the startup copy in the low system blocks, the
// player keeps its old version words: the query must not call it current.
TEST_P(InterruptedUpdateTest, BrokenStartupCopyIsNotReportedAsStored) {
  Restart(before_);
  ASSERT_EQ(old_.Scan(g_.type), PROGRAM_MEDIA_DONE);
  sim::FaultConfig faults;
  faults.powerCutAfterTransfer = 1;  // the erase of the first low block
  player_->SetFaults(faults);
  EXPECT_EQ(old_.Program(g_.type), PROGRAM_MEDIA_WRITE_FAILED);
  Restart(TakeFlash(*player_));
  ASSERT_TRUE(player_->IsBlockErased(1));
  EXPECT_EQ(old_.FirmwareVersions(g_.type), PROGRAM_MEDIA_WRITE_FAILED);
  const _BinaryFilesInformation& files = old_.Record();
  EXPECT_EQ(files.deviceVersionB[0][1], 0u);
  EXPECT_EQ(files.deviceVersionB[2][1], g_.type >= 3 ? 1u : 0xFFFFu);  // R still read
  ASSERT_EQ(old_.Scan(g_.type), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(old_.Program(g_.type), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(old_.FirmwareVersions(g_.type), PROGRAM_MEDIA_DONE);
}

INSTANTIATE_TEST_SUITE_P(Flashes, InterruptedUpdateTest,
                         ::testing::Values(Geometry{0, 8, 256}, Geometry{3, 16, 1024}),
                         [](const auto& param) {
                           return "Type" + std::to_string(param.param.type);
                         });

}  // namespace
}  // namespace orvik::testing
