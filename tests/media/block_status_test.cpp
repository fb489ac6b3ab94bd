// The block status scan against a simulated player.
#include "media/block_status.h"

#include "api/library_context.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

using namespace media;

class BlockStatusTest : public SimPlayerTest {
 protected:
  void SetUp() override { Reserve(0); }
  PROGRAM_MEDIA_STATUS Scan(uint32_t type, const _BinaryFilesInformation& files) {
    ORVIK_ULONG types[1] = {type};
    return OrvikBuildBlockStatus(types, 0, 0, const_cast<_BinaryFilesInformation*>(&files),
                                 nullptr);
  }
  PROGRAM_MEDIA_STATUS Scan(uint32_t type) { return Scan(type, Files("P")); }
  const protocol::DriveMediaState& Drive() { return *api::Context().DriveState(0); }
  uint8_t Entry(uint32_t block) { return Drive().blockStatus[block]; }
};

TEST_F(BlockStatusTest, FreshFlashHasItsCisBlockFirstAndEraseNothing) {
  StartPlayer(5);
  player_->ResetStats();
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().cisBlock, 0u);
  EXPECT_EQ(Entry(0), BLOCK_CIS);
  for (uint32_t block = 1; block < 2048; ++block) ASSERT_EQ(Entry(block), BLOCK_GOOD) << block;
  EXPECT_EQ(Frames(CMD_FLASH_READ_BLOCK_MARKS), 8u);
  EXPECT_EQ(player_->Stats().exchanges, 8u);
  EXPECT_EQ(Drive().systemBlockCount, 0u);
  EXPECT_EQ(Drive().firstReservedBlock, 2047u);
}

TEST_F(BlockStatusTest, BlocksInFrontOfTheCisBlockAreInvalidated) {
  sim::PlayerConfig config;
  config.flashType = 5;
  config.factoryBadBlocks = {0, 1, 700};
  StartPlayer(config);
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().cisBlock, 2u);
  EXPECT_EQ(Entry(0), BLOCK_BAD);
  EXPECT_EQ(Entry(1), BLOCK_BAD);
  EXPECT_EQ(Entry(2), BLOCK_CIS);
  EXPECT_EQ(Entry(700), BLOCK_BAD);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 2u);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGES), 2u);
  for (uint32_t block : {0u, 1u})
    for (uint32_t page = 0; page < 32; ++page)
      ASSERT_EQ(Page(block, page), sim::RawPage{}) << block << "/" << page;
  // A second scan finds the same blocks bad and writes nothing more.
  player_->ResetStats();
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().cisBlock, 2u);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 2u);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

TEST_F(BlockStatusTest, SystemMarksCountOnlyAfterTheCisBlock) {
  StartPlayer(4);
  MarkBlock(0, 0x00, 0x00, 'Q', 'V');  // a system block in front: invalidated
  MarkBlock(5, 0x00, 0x00, 'Q', 'V');  // after the CIS block: a system block
  MarkBlock(6, 0x00, 0x00, 'M', 'R');  // a listed tag
  MarkBlock(7, 0x00, 0x00, 'M', 'Z');  // a tag of no file: bad
  MarkBlock(8, 0x12, 0x00, 'Q', 'V');  // data status is not looked at
  MarkBlock(9, 0xFF, 0x01, 'Q', 'V');  // only 0x00 can be a system block
  ASSERT_EQ(Scan(4, Files("PR")), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Entry(0), BLOCK_BAD);
  EXPECT_EQ(Drive().cisBlock, 1u);
  EXPECT_EQ(Entry(5), BLOCK_SYSTEM);
  EXPECT_EQ(Entry(6), BLOCK_SYSTEM);
  EXPECT_EQ(Entry(7), BLOCK_BAD);
  EXPECT_EQ(Entry(8), BLOCK_SYSTEM);
  EXPECT_EQ(Entry(9), BLOCK_BAD);
}

TEST_F(BlockStatusTest, CisBlockAllowsAFewZeroBitsInTheDataStatus) {
  EXPECT_TRUE(QualifiesAsCisBlock(0xFF, 0xFF));
  EXPECT_TRUE(QualifiesAsCisBlock(0xFE, 0xFF));
  EXPECT_TRUE(QualifiesAsCisBlock(0x7E, 0xFF));
  EXPECT_TRUE(QualifiesAsCisBlock(0xF8, 0xFF));
  EXPECT_FALSE(QualifiesAsCisBlock(0xF0, 0xFF));
  EXPECT_FALSE(QualifiesAsCisBlock(0x00, 0xFF));
  EXPECT_FALSE(QualifiesAsCisBlock(0xFF, 0xFE));
}

TEST_F(BlockStatusTest, SystemBlocksAreCountedDownToTheFirstGoodBlock) {
  StartPlayer(4);
  // From the last block down: system, system, bad, system, good, system.
  MarkBlock(1023, 0, 0, 'Q', 'V');
  MarkBlock(1022, 0, 0, 'Q', 'V');
  MarkBlock(1021, 0xFF, 0x00);
  MarkBlock(1020, 0, 0, 'Q', 'V');
  MarkBlock(1018, 0, 0, 'Q', 'V');
  ASSERT_EQ(Scan(4), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().systemBlockCount, 3u);
}

TEST_F(BlockStatusTest, ReservedAreaCountsGoodAndSystemBlocksFromTheTop) {
  StartPlayer(4);
  MarkBlock(1023, 0xFF, 0x00);      // bad
  MarkBlock(1022, 0, 0, 'Q', 'V');  // system
  Reserve(2 * 16);                  // two blocks of 16 KiB
  ASSERT_EQ(Scan(4), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().firstReservedBlock, 1021u);
  Reserve(0);
  ASSERT_EQ(Scan(4), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().firstReservedBlock, 1023u);
  Reserve(16 * 5000);  // never reached
  ASSERT_EQ(Scan(4), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().firstReservedBlock, 1023u);
}

TEST_F(BlockStatusTest, ScanReportsPhaseTwoOnlyWhenTheHostAskedWithPhaseOne) {
  StartPlayer(3);
  OrvikSetPhase(1, 0.0, nullptr);
  ASSERT_EQ(Scan(3), PROGRAM_MEDIA_DONE);
  double percent = 0;
  ORVIK_ULONG phase = 0;
  OrvikGetProgress(&percent, &phase);
  EXPECT_EQ(phase, 2u);
  EXPECT_NEAR(percent, 100.0, 1e-9);

  OrvikSetPhase(0, 0.0, nullptr);
  OrvikSetProgress(12.5);
  ASSERT_EQ(Scan(3), PROGRAM_MEDIA_DONE);
  OrvikGetProgress(&percent, &phase);
  EXPECT_EQ(phase, 0u);
  EXPECT_EQ(percent, 12.5);
}

TEST_F(BlockStatusTest, OtherDrivesAndRecordsAreRefusedWithoutTraffic) {
  StartPlayer(5);
  player_->ResetStats();
  ORVIK_ULONG oneType[1] = {5};
  auto files = Files("P");
  EXPECT_EQ(OrvikBuildBlockStatus(oneType, 1, 0, &files, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(OrvikBuildBlockStatus(nullptr, 0, 0, &files, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(OrvikBuildBlockStatus(oneType, 0, 0, nullptr, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  auto twelve = Files("ABCDEFGHIJKL");
  twelve.fileCount = 13;
  EXPECT_EQ(OrvikBuildBlockStatus(oneType, 0, 0, &twelve, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  auto same = Files("PP");
  EXPECT_EQ(OrvikBuildBlockStatus(oneType, 0, 0, &same, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  auto colliding = Files("P\xFB");
  EXPECT_EQ(OrvikBuildBlockStatus(oneType, 0, 0, &colliding, nullptr), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(BlockStatusTest, UnknownTypeIsRecordedAndKeepsTheOldTable) {
  StartPlayer(5);
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  const uint8_t* table = Drive().blockStatus.data();
  player_->ResetStats();
  ASSERT_EQ(Scan(36), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().flashType, 36u);
  EXPECT_EQ(Drive().blockStatus.data(), table);
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

TEST_F(BlockStatusTest, FlashWithoutAnyUsableBlockIsLeftUntouched) {
  sim::PlayerConfig config;
  config.flashType = 3;
  for (uint32_t block = 0; block < 1024; ++block) config.factoryBadBlocks.push_back(block);
  StartPlayer(config);
  player_->ResetStats();
  EXPECT_EQ(Scan(3), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(Frames(CMD_FLASH_READ_BLOCK_MARKS), 4u);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 0u);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGES), 0u);
}

TEST_F(BlockStatusTest, CisBlockBeyondTheFirstGroupIsFoundBeforeAnythingIsErased) {
  sim::PlayerConfig config;
  config.flashType = 5;
  for (uint32_t block = 0; block < 300; ++block) config.factoryBadBlocks.push_back(block);
  StartPlayer(config);
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().cisBlock, 300u);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 300u);
  EXPECT_EQ(Frames(CMD_FLASH_READ_BLOCK_MARKS), 8u);
  EXPECT_EQ(Entry(299), BLOCK_BAD);
  EXPECT_EQ(Entry(301), BLOCK_GOOD);
}

TEST_F(BlockStatusTest, EraseFailureInFrontOfTheCisBlockFailsTheScan) {
  sim::PlayerConfig config;
  config.flashType = 5;
  config.factoryBadBlocks = {0, 1};
  config.faults.eraseFailures[1] = 0;
  StartPlayer(config);
  EXPECT_EQ(Scan(5), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(Entry(1), BLOCK_BAD);
}

TEST_F(BlockStatusTest, EraseThatGetsNoAnswerFailsTheScanAndMarksTheBlockBad) {
  sim::PlayerConfig config;
  config.flashType = 5;
  config.factoryBadBlocks = {0};
  StartPlayer(config);
  // Transfers: marks frame, marks reply, erase frame, erase reply.
  player_->AddTransferFault({4, sim::TransferFault::Kind::kError});
  EXPECT_EQ(Scan(5), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_EQ(Entry(0), BLOCK_BAD);
  EXPECT_EQ(Frames(CMD_FLASH_WRITE_PAGES), 0u);
}

TEST_F(BlockStatusTest, EveryFlashTypeScansWithOneMarksRequestPer256Blocks) {
  for (uint32_t type = 0; type <= 35; ++type) {
    StartPlayer(type);
    player_->ResetStats();
    ASSERT_EQ(Scan(type), PROGRAM_MEDIA_DONE) << type;
    uint32_t blocks = protocol::kFlashTypes[type].blockCount;
    EXPECT_EQ(Frames(CMD_FLASH_READ_BLOCK_MARKS), (blocks + 255) / 256) << type;
    EXPECT_EQ(player_->Stats().exchanges, (blocks + 255) / 256) << type;
    EXPECT_EQ(Entry(blocks - 1), BLOCK_GOOD) << type;
    EXPECT_EQ(player_->Stats().protocolViolations, 0u) << type;
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    player_->Unregister();
  }
}

TEST_F(BlockStatusTest, FreeingTheDriveEndsPageTransfers) {
  StartPlayer(5);
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(OrvikFreeMemoryDevice(0), 1);
  EXPECT_TRUE(Drive().blockStatus.empty());
  EXPECT_TRUE(Drive().pageBuffer.empty());
  EXPECT_EQ(OrvikFreeMemoryDevice(0), 1);
  EXPECT_EQ(OrvikFreeMemoryDevice(7), 1);
}

TEST_F(BlockStatusTest, FailedAllocationLeavesNoBuffers) {
  StartPlayer(5);
  size_t sessionOnly = os_.LiveAllocations();
  // The scan takes the page buffer, the table and the marks buffer, in this order.
  for (uint64_t n = 1; n <= 3; ++n) {
    ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
    os_.FailAllocationNumber(n);
    EXPECT_EQ(Scan(5), PROGRAM_MEDIA_NO_DEVICE) << n;
    EXPECT_TRUE(Drive().blockStatus.empty());
    EXPECT_TRUE(Drive().pageBuffer.empty());
    EXPECT_EQ(os_.LiveAllocations(), sessionOnly) << n;
  }
}

}  // namespace
}  // namespace orvik::testing
