// The quick format of the internal flash against a simulated player: where
// the logical blocks land, what every page carries, how pages that do not
// verify are handled, and the refusals that send nothing.
#include <chrono>
#include <future>
#include <string>

#include "api/global_lock.h"
#include "quick_format_fixture.h"

namespace orvik::testing {
namespace {

using media::BLOCK_BAD;
using media::BLOCK_CIS;
using media::BLOCK_FORMAT_USED;
using media::BLOCK_GOOD;

TEST_F(QuickFormatTest, Type0WithTheCisAtBlock0PutsLogicalBlocks0To3InBlocks1To4) {
  StartScanned(0);
  ASSERT_EQ(QuickFormat(0), PROGRAM_MEDIA_DONE);
  // Small-page chips carry the field of block number 0xFFFF on the CIS page.
  ExpectCisPage(0, {0x17, 0xFF});
  for (uint32_t logical = 0; logical < 4; ++logical)
    ExpectLogicalBlockAt(0, logical, logical + 1, 1987);
  EXPECT_EQ(Entry(5), BLOCK_GOOD);
  EXPECT_EQ(PartitionSizeAt(1), 1987u);
  // Each 512-byte sector went as two half pages.
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 2u * (1 + 32));
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

TEST_F(QuickFormatTest, EveryPageCarriesItsLogicalBlockAndEcc) {
  sim::PlayerConfig config;
  config.flashType = 5;
  config.factoryBadBlocks = {3, 900};
  StartScanned(config);
  ASSERT_EQ(player_->UserData().formatStatus, 0u);
  ASSERT_EQ(QuickFormat(5), PROGRAM_MEDIA_DONE);
  ExpectCisPage(0, {0x00, 0x00});
  // Logical blocks 0-2 (sectors 0-95): bad block 3 is passed over.
  ExpectLogicalBlockAt(5, 0, 1, 63965);
  ExpectLogicalBlockAt(5, 1, 2, 63965);
  ExpectLogicalBlockAt(5, 2, 4, 63965);
  EXPECT_EQ(Entry(3), BLOCK_BAD);
  EXPECT_EQ(Entry(5), BLOCK_GOOD);
  EXPECT_EQ(PartitionSizeAt(1), 63965u);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 1u + 96);
  EXPECT_EQ(Frames(CMD_FLASH_READ_PAGES), 96u);
  // The first zone's good blocks were erased, nothing beyond it.
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), (1023u - 2) + 1);  // and the CIS block
  EXPECT_EQ(player_->UserData().formatStatus, 1u);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

TEST_F(QuickFormatTest, PageThatDoesNotVerifyMovesItsLogicalBlock) {
  sim::PlayerConfig config;
  config.flashType = 3;                     // 16 pages per block
  config.faults.weakPages[3 * 16 + 8] = 0;  // logical block 2, sector 40
  StartScanned(config);
  ASSERT_EQ(QuickFormat(3), PROGRAM_MEDIA_DONE);
  ExpectInvalidated(3);
  ExpectLogicalBlockAt(3, 2, 4, 15975);
  ExpectLogicalBlockAt(3, 3, 5, 15975);
  // Sectors 32-40 went to block 3 first, then all of logical block 2 again.
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 1u + 64 + 9);
  // A later scan finds the invalidated block bad.
  ASSERT_EQ(Scan(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Entry(3), BLOCK_BAD);
  EXPECT_EQ(Entry(4), BLOCK_GOOD);  // a data block, as the scan sees it
}

TEST_F(QuickFormatTest, FailureOnTheLastSectorStillRewritesItsBlock) {
  sim::PlayerConfig config;
  config.flashType = 3;
  config.faults.weakPages[4 * 16 + 15] = 0;  // sector 63, lastFormatSector
  StartScanned(config);
  ASSERT_EQ(QuickFormat(3), PROGRAM_MEDIA_DONE);
  ExpectInvalidated(4);
  ExpectLogicalBlockAt(3, 3, 5, 15975);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 1u + 64 + 16);
}

TEST_F(QuickFormatTest, BlockWhoseEraseFailsIsPassedOver) {
  sim::PlayerConfig config;
  config.flashType = 3;
  config.faults.eraseFailures[2] = 0;
  StartScanned(config);
  ASSERT_EQ(QuickFormat(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Entry(2), BLOCK_BAD);
  ExpectLogicalBlockAt(3, 1, 3, 15975);
}

TEST_F(QuickFormatTest, RegistryReservationShrinksThePartition) {
  StartScanned(4);
  Reserve(1024);  // 64 blocks of 32 pages: 2048 sectors
  ASSERT_EQ(QuickFormat(4, 1), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(PartitionSizeAt(1), 31959u - 2048);
  // The boot sector (sector 41: logical block 1, page 9) has it in its 16-bit field.
  const sim::RawPage boot = Page(2, 9);
  EXPECT_EQ(uint32_t{boot[19]} | uint32_t{boot[20]} << 8, 31959u - 2048);
  ExpectLogicalBlockAt(4, 1, 2, 31959 - 2048);

  ASSERT_EQ(Scan(4), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(QuickFormat(4, 0), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(PartitionSizeAt(1), 1000u * 32 - 41);
}

TEST_F(QuickFormatTest, ReservationWithoutRoomForAVolumeChangesNothing) {
  StartScanned(4);
  Reserve(16 * 2000);  // more than the flash
  EXPECT_EQ(QuickFormat(4, 1), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(player_->Stats().controlRequests, 0u);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

TEST_F(QuickFormatTest, PageThatNeverVerifiesFailsWhenTheFirstZoneIsUsedUp) {
  sim::PlayerConfig config;
  config.flashType = 5;  // 2048 blocks, a first zone of 1024
  for (uint32_t block = 1; block < 1024; ++block) config.faults.weakPages[block * 32] = 0;
  StartScanned(config);
  EXPECT_EQ(QuickFormat(5), PROGRAM_MEDIA_FORMAT_FAILED);
  for (uint32_t block = 1; block < 1024; ++block) ASSERT_EQ(Entry(block), BLOCK_BAD) << block;
  for (uint32_t block = 1024; block < 2048; ++block) {
    ASSERT_EQ(Entry(block), BLOCK_GOOD) << block;
    ASSERT_TRUE(player_->IsBlockErased(block)) << block;
  }
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 1u + 1023);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

TEST_F(QuickFormatTest, EraseThatFailsDuringInvalidationFailsTheFormat) {
  sim::PlayerConfig config;
  config.flashType = 3;
  config.faults.weakPages[3 * 16 + 8] = 0;
  config.faults.eraseFailures[3] = 1;  // the first-zone erase works, the next one not
  StartScanned(config);
  EXPECT_EQ(QuickFormat(3), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(Entry(3), BLOCK_BAD);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGES), 0u);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

// The erase request of an invalidation that gets no answer marks the block
// bad and ends the format: nothing more is sent to the device.
TEST_F(QuickFormatTest, EraseRequestWithoutAnswerDuringInvalidationStopsTheFormat) {
  sim::PlayerConfig config;
  config.flashType = 3;
  config.faults.weakPages[3 * 16 + 8] = 0;
  StartScanned(config);
  bool armed = false;
  uint64_t transfersAtFault = 0;
  player_->SetTrace([&](const sim::TraceEvent& event) {
    if (armed || event.kind != sim::TraceEvent::Kind::kWrite ||
        event.decoded.find("flash read pages block 3 page 8") == std::string::npos)
      return;
    armed = true;
    transfersAtFault = event.transfer + 2;  // the reply, then the erase frame
    player_->AddTransferFault({2, sim::TransferFault::Kind::kError});
  });
  EXPECT_EQ(QuickFormat(3), PROGRAM_MEDIA_FORMAT_FAILED);
  player_->SetTrace(nullptr);
  ASSERT_TRUE(armed);
  EXPECT_EQ(player_->TransferCount(), transfersAtFault);
  EXPECT_EQ(Entry(3), BLOCK_BAD);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGES), 0u);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

TEST_F(QuickFormatTest, RefusalsSendNothing) {
  StartScanned(5);
  // Drive 1 has no state: its entry of a one-entry array is never read.
  ORVIK_ULONG oneType[1] = {5};
  EXPECT_EQ(OrvikQuickFormatPelk(oneType, 1, 0, nullptr, nullptr), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(OrvikQuickFormatPelk(nullptr, 0, 0, nullptr, nullptr), PROGRAM_MEDIA_NOT_FLASH);
  {
    MediaKindGuard unknownKind(7);
    EXPECT_EQ(QuickFormat(5), PROGRAM_MEDIA_NOT_FLASH);
  }
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(player_->Stats().controlRequests, 0u);

  // Without a table: 4 and no traffic at all.
  OrvikFreeMemoryDevice(0);
  EXPECT_EQ(QuickFormat(5), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(player_->Stats().controlRequests, 0u);
  EXPECT_EQ(player_->UserData().formatStatus, 0u);
}

TEST_F(QuickFormatTest, UnknownTypeIsRefusedWithoutTakingTheLock) {
  StartScanned(5);
  api::EnterGlobalLock();
  auto result = std::async(std::launch::async, [&] { return QuickFormat(36); });
  const bool finished = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  api::LeaveGlobalLock();
  ASSERT_TRUE(finished) << "the format waited for the lock";
  EXPECT_EQ(result.get(), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(QuickFormatTest, ScanOfAnotherTypeSinceLeavesNothingToFormat) {
  StartScanned(5);
  ASSERT_EQ(Scan(36), PROGRAM_MEDIA_DONE);  // recorded, the old table kept
  player_->ResetStats();
  EXPECT_EQ(QuickFormat(5), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(QuickFormatTest, FailedAllocationsFailTheFormatAndLeakNothing) {
  for (uint64_t failing = 1; failing <= 3; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    StartScanned(3);
    const size_t live = os_.LiveAllocations();
    os_.FailAllocationNumber(failing);
    EXPECT_EQ(QuickFormat(3), PROGRAM_MEDIA_FORMAT_FAILED);
    EXPECT_EQ(os_.LiveAllocations(), live);
    EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGE), 0u);
    os_.FailAllocationNumber(0);
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    player_->Unregister();
  }
}

}  // namespace
}  // namespace orvik::testing
