// The rules of the system-area writers: block counts, cursors, refusals,
// the regions they may touch, and the phases a host sees.
#include <atomic>
#include <future>
#include <thread>

#include "api/global_lock.h"
#include "api/library_context.h"
#include "media/block_status.h"
#include "orvik/posix.h"
#include "protocol/media_state.h"
#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

using media::BLOCK_BAD;
using media::BLOCK_SYSTEM;

class ProgrammingRulesTest : public SimPlayerTest {
 protected:
  static constexpr uint32_t kBlockBytes = 16384;

  const protocol::DriveMediaState& Drive() { return *api::Context().DriveState(0); }

  // A formatted type-5 player with the set's reservation and layout.
  void FormatPlayer(FirmwareSet& set, uint32_t reservedBlocks, int writeFiles = 0) {
    StartPlayer(5);
    ReserveBlocks(reservedBlocks, kBlockBytes);
    ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(set.FullFormat(5, writeFiles), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  }

  std::vector<uint32_t> BlocksWithMarker(uint8_t marker) {
    std::vector<uint32_t> blocks;
    for (uint32_t block = 0; block < 2048; ++block)
      if (Drive().blockStatus[block] == marker) blocks.push_back(block);
    return blocks;
  }
};

TEST_F(ProgrammingRulesTest, LastBlockOfASinglePageIsWrittenWithTwo) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(32 * 510 + 100, 5, {}));  // 33 pages
  FormatPlayer(set, 16);
  ASSERT_EQ(set.Program(5), PROGRAM_MEDIA_DONE);
  uint32_t second = Drive().firstReservedBlock + 1;
  sim::RawPage page0 = Page(second, 0), page1 = Page(second, 1), page2 = Page(second, 2);
  EXPECT_EQ(page0[0], set.Content(0)[32 * 510]);
  EXPECT_EQ(std::count(page1.begin(), page1.begin() + 512, 0), 512);  // zero data
  EXPECT_EQ(page1[518], 'M');
  EXPECT_EQ(page1[519], 'P');
  EXPECT_EQ(std::count(page2.begin(), page2.end(), 0xFF), 528);  // erased
}

TEST_F(ProgrammingRulesTest, FileOfTwoWholeBlocksWritesEveryPageOfBoth) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(64 * 510, 6, {}));  // exactly 64 pages
  FormatPlayer(set, 16);
  player_->ResetStats();
  ASSERT_EQ(set.Program(5), PROGRAM_MEDIA_DONE);
  for (uint32_t block : {Drive().firstReservedBlock, Drive().firstReservedBlock + 1}) {
    sim::RawPage last = Page(block, 31);
    EXPECT_EQ(last[517], 0x00) << block;  // written in system mode
    EXPECT_EQ(std::memcmp(last.data(),
                          set.Content(0).data() + (block - Drive().firstReservedBlock) * 32 * 510 +
                              31 * 510,
                          510),
              0);
  }
}

TEST_F(ProgrammingRulesTest, UnknownTypeOrOtherDriveIsRefusedWithoutTheLock) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  StartPlayer(5);
  std::promise<void> release;
  std::promise<void> held;
  std::thread holder([&] {
    api::GlobalLockGuard lock;
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto refused = std::async(std::launch::async, [&] {
    ORVIK_ULONG unknown[2] = {36, 5};
    PROGRAM_MEDIA_STATUS a =
        OrvikProgramPelkMedia(unknown, 0, set.Data(), set.Lengths(), set.PrefixData(),
                              set.PrefixLengths(), &set.Record(), nullptr);
    PROGRAM_MEDIA_STATUS b =
        OrvikProgramPelkMedia(unknown, 1, set.Data(), set.Lengths(), set.PrefixData(),
                              set.PrefixLengths(), &set.Record(), nullptr);
    PROGRAM_MEDIA_STATUS c =
        OrvikFatFormatEx(unknown, 0, 0, nullptr, nullptr, nullptr, nullptr, &set.Record(), nullptr);
    return std::vector<PROGRAM_MEDIA_STATUS>{a, b, c};
  });
  bool finished = refused.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  holder.join();
  ASSERT_TRUE(finished) << "a refused call waited for the lock";
  EXPECT_EQ(refused.get(),
            (std::vector<PROGRAM_MEDIA_STATUS>{PROGRAM_MEDIA_NOT_FLASH, PROGRAM_MEDIA_NOT_FLASH,
                                               PROGRAM_MEDIA_NOT_FLASH}));
}

TEST_F(ProgrammingRulesTest, CallsWithoutAScanOrWithAnotherTypeSendNothing) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  StartPlayer(5);
  Reserve(1024);
  player_->ResetStats();
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(set.FullFormat(5, 1), PROGRAM_MEDIA_NO_DEVICE);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  OrvikFreeMemoryDevice(0);
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_NO_DEVICE);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  player_->ResetStats();
  EXPECT_EQ(set.Program(35), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(set.FullFormat(4, 1), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(player_->Stats().controlRequests, 0u);
}

TEST_F(ProgrammingRulesTest, RecordsAndLowAreaFilesOutsideTheSetAreRefused) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  set.Add('R', FILE_KIND_RAW, RawFile(1000, 2, {}));
  StartPlayer(5);
  Reserve(1024);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  player_->ResetStats();
  for (ORVIK_ULONG low : {0u, 3u, 0xFFFFFFFFu}) {
    set.Record().lowAreaFile = low;
    EXPECT_EQ(set.FullFormat(5, 0), PROGRAM_MEDIA_BAD_FILE) << low;
  }
  set.Record().lowAreaFile = 2;
  set.Record().fileCount = 0;
  EXPECT_EQ(set.FullFormat(5, 0), PROGRAM_MEDIA_BAD_FILE);
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_BAD_FILE);
  set.Record().fileCount = 13;
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_BAD_FILE);
  set.Record().fileCount = 2;
  set.Record().fileTags[1] = 'P';
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_BAD_FILE);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(ProgrammingRulesTest, SystemAreaSmallerThanTheReservationIsRefusedBeforePhaseFive) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  FormatPlayer(set, 20);
  EXPECT_EQ(Drive().systemBlockCount, 20u);
  ReserveBlocks(21, kBlockBytes);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  OrvikSetPhase(0, 0.0, nullptr);
  player_->ResetStats();
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_SYSTEM_MISMATCH);
  ORVIK_ULONG phase = 9;
  OrvikGetProgress(nullptr, &phase);
  EXPECT_EQ(phase, 0u);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(ProgrammingRulesTest, FirstCopyOfAFileNotTaggedPNeedsItsMarkerInTheReservedArea) {
  FirmwareSet set;
  set.Add('A', FILE_KIND_RAW, RawFile(1000, 1, {}));
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 2, {}));
  FormatPlayer(set, 16);
  // The low system blocks read back as plain system blocks: the first copy
  // of file 0 lands there, and its version words find no block.
  EXPECT_EQ(set.Program(5), PROGRAM_MEDIA_WRITE_FAILED);
}

TEST_F(ProgrammingRulesTest, EmptyFilesAfterTheFirstGetNoBlocks) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(20000, 1, {}));
  set.Add('Q', FILE_KIND_RAW, {});
  set.Add('R', FILE_KIND_RAW, RawFile(1000, 3, {}));
  FormatPlayer(set, 16);
  ASSERT_EQ(set.Program(5), PROGRAM_MEDIA_DONE);
  EXPECT_TRUE(BlocksWithMarker('Q' + 4).empty());
  auto blocksR = BlocksWithMarker('R' + 4);
  ASSERT_EQ(blocksR.size(), 1u);
  EXPECT_EQ(blocksR[0], Drive().firstReservedBlock + 2);  // right after file 0's two blocks
}

TEST_F(ProgrammingRulesTest, LayoutWithoutFilesNeedsAReservation) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  StartPlayer(5);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  Reserve(0);
  OrvikSetPhase(0, 0.0, nullptr);
  ORVIK_ULONG types[1] = {5};
  EXPECT_EQ(
      OrvikFatFormatEx(types, 0, 0, nullptr, nullptr, nullptr, nullptr, &set.Record(), nullptr),
      PROGRAM_MEDIA_NO_ROOM);
  ORVIK_ULONG phase = 9;
  OrvikGetProgress(nullptr, &phase);
  EXPECT_EQ(phase, 0u);
  Reserve(16);
  EXPECT_EQ(
      OrvikFatFormatEx(types, 0, 0, nullptr, nullptr, nullptr, nullptr, &set.Record(), nullptr),
      PROGRAM_MEDIA_DONE);
  OrvikGetProgress(nullptr, &phase);
  EXPECT_EQ(phase, 4u);  // phase 5 is not announced without files
}

TEST_F(ProgrammingRulesTest, WithoutAFileTaggedPTheOldSystemAreaIsNotErased) {
  FirmwareSet first;
  first.Add('P', FILE_KIND_RAW, RawFile(20000, 1, {}));
  FormatPlayer(first, 16, 1);
  uint32_t oldBlock = Drive().firstReservedBlock;
  sim::RawPage before = Page(oldBlock, 0);
  FirmwareSet other;
  other.Add('A', FILE_KIND_RAW, RawFile(1000, 2, {}));
  ASSERT_EQ(other.Scan(5), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(other.FullFormat(5, 0), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Page(oldBlock, 0), before);  // neither erased nor re-marked
}

TEST_F(ProgrammingRulesTest, CisBlockAtTheEndOfTheFlashIsNeverTouched) {
  sim::PlayerConfig config;
  config.flashType = 3;
  for (uint32_t block = 0; block < 1023; ++block) config.factoryBadBlocks.push_back(block);
  StartPlayer(config);
  sim::RawPage cis = Page(1023, 0);
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(100, 1, {}));
  Reserve(16);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(Drive().cisBlock, 1023u);
  player_->ResetStats();
  EXPECT_EQ(set.FullFormat(3, 0), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Page(1023, 0), cis);
  EXPECT_EQ(player_->Stats().pagesProgrammed, 0u);
  EXPECT_EQ(player_->Stats().blocksErased, 0u);
}

TEST_F(ProgrammingRulesTest, UpdateWithNothingAfterTheFirstCopyLeavesTheVolumeAlone) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, {});
  set.Add('R', FILE_KIND_RAW, {});
  FormatPlayer(set, 16);
  sim::RawPage data;
  data.fill(0x5A);
  data[512 + 5] = 0xFF;
  player_->SetPageRaw(500 * 32, data);
  ASSERT_EQ(set.Scan(5), PROGRAM_MEDIA_DONE);
  player_->ResetStats();
  // Nothing is written after the first copy, so the cursor is still at
  // block 100: the clearing starts at the reserved area nonetheless.
  ASSERT_EQ(set.Program(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Page(500, 0), data);
  EXPECT_EQ(player_->Stats().blocksErased, 16u);
  for (uint32_t block = 5; block < Drive().firstReservedBlock; ++block)
    ASSERT_EQ(Drive().blockStatus[block], media::BLOCK_GOOD) << block;
}

TEST_F(ProgrammingRulesTest, FirstCopyThatRunsPastBlock100IsNotOverwritten) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(1000, 1, {}));
  sim::PlayerConfig config;
  config.flashType = 3;  // 1024 blocks of 8 KiB
  StartPlayer(config);
  ReserveBlocks(200, 8192);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set.FullFormat(3, 0), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  ASSERT_LT(Drive().firstReservedBlock, 900u);
  // A first copy larger than the three low blocks runs on into the reserved
  // area, past block 100.
  FirmwareSet big;
  big.Add('P', FILE_KIND_RAW, RawFile(8 * 16 * 510, 2, {}));  // 8 blocks
  ASSERT_EQ(big.Scan(3), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(big.Program(3), PROGRAM_MEDIA_DONE);
  uint32_t firstReserved = Drive().firstReservedBlock;
  // First copy: blocks 1-3 and the first five reserved blocks; the second
  // copy starts after it, not at block 100.
  for (uint32_t i = 0; i < 5; ++i)
    EXPECT_EQ(std::memcmp(Page(firstReserved + i, 0).data(),
                          big.Content(0).data() + (3 + i) * 16 * 510, 510),
              0)
        << i;
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(std::memcmp(Page(firstReserved + 5 + i, 0).data(),
                          big.Content(0).data() + i * 16 * 510, 510),
              0)
        << i;
}

// The phases a host sees while it paces the operation with its event.
struct PhaseLog {
  std::vector<std::pair<ORVIK_ULONG, double>> seen;
  std::vector<ORVIK_ULONG> Phases() const {
    std::vector<ORVIK_ULONG> phases;
    for (auto& [phase, percent] : seen)
      if (phases.empty() || phases.back() != phase) phases.push_back(phase);
    return phases;
  }
  bool Saw(ORVIK_ULONG phase, double percent) const {
    for (auto& entry : seen)
      if (entry.first == phase && entry.second == percent) return true;
    return false;
  }
};

template <typename Operation>
PhaseLog WatchPhases(Operation operation, PROGRAM_MEDIA_STATUS* status) {
  OrvikPosixEvent* event = OrvikPosixEventCreate();
  std::atomic<bool> done{false};
  PhaseLog log;
  OrvikSetPhase(0, 0.0, nullptr);
  std::thread host([&] {
    std::pair<ORVIK_ULONG, double> last{0, 0.0};
    while (!done) {
      double percent = 0;
      ORVIK_ULONG phase = 0;
      OrvikGetProgress(&percent, &phase);
      if (std::make_pair(phase, percent) != last) {
        last = {phase, percent};
        log.seen.push_back(last);
        OrvikPosixEventSet(event);
      }
      std::this_thread::yield();
    }
  });
  *status = operation(event);
  done = true;
  host.join();
  OrvikPosixEventClose(event);
  return log;
}

TEST_F(ProgrammingRulesTest, HostSeesThreeFourFiveForTheFullFormatAndFiveFourForTheUpdate) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(20000, 1, {}));
  StartPlayer(3);
  ReserveBlocks(16, 8192);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  PROGRAM_MEDIA_STATUS status;
  PhaseLog format = WatchPhases([&](void* event) { return set.FullFormat(3, 1, event); }, &status);
  ASSERT_EQ(status, PROGRAM_MEDIA_DONE);
  EXPECT_EQ(format.Phases(), (std::vector<ORVIK_ULONG>{3, 4, 5}));
  for (ORVIK_ULONG phase : {3u, 4u, 5u}) {
    EXPECT_TRUE(format.Saw(phase, 0.0)) << phase;
    EXPECT_TRUE(format.Saw(phase, 100.0)) << phase;
  }
  for (size_t i = 1; i < format.seen.size(); ++i) {
    if (format.seen[i].first == format.seen[i - 1].first) {
      EXPECT_GE(format.seen[i].second, format.seen[i - 1].second);
    }
  }

  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  PhaseLog update = WatchPhases([&](void* event) { return set.Program(3, event); }, &status);
  ASSERT_EQ(status, PROGRAM_MEDIA_DONE);
  EXPECT_EQ(update.Phases(), (std::vector<ORVIK_ULONG>{5, 4}));
  EXPECT_TRUE(update.Saw(5, 100.0));
  EXPECT_TRUE(update.Saw(4, 100.0));
}

TEST_F(ProgrammingRulesTest, NullEventMeansNoPhaseWaits) {
  FirmwareSet set;
  set.Add('P', FILE_KIND_RAW, RawFile(2000, 1, {}));
  StartPlayer(3);
  ReserveBlocks(16, 8192);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  os_.eventWaits = 0;
  ASSERT_EQ(set.FullFormat(3, 1), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set.Scan(3), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set.Program(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(os_.eventWaits.load(), 0);
}

}  // namespace
}  // namespace orvik::testing
