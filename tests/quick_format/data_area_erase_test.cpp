// The data-area erase against a simulated player: which blocks it erases,
// what it leaves alone, failed erases, and the calls it refuses.
#include <string>

#include "quick_format_fixture.h"

namespace orvik::testing {
namespace {

using media::BLOCK_BAD;
using media::BLOCK_GOOD;
using media::BLOCK_SYSTEM;

class DataAreaEraseTest : public QuickFormatTest {
 protected:
  PROGRAM_MEDIA_STATUS EraseDataArea(uint32_t type, unsigned char drive = 0) {
    ORVIK_ULONG types[1] = {type};
    return OrvikFatEraseDataArea(types, drive, nullptr);
  }
  // Leaves a mark in a block's first page, so that an erase shows.
  void Scribble(uint32_t block) {
    sim::RawPage page = Page(block, 3);
    page[0] = 0x42;
    player_->SetPageRaw(block * PagesPerBlock() + 3, page);
  }
  bool Scribbled(uint32_t block) const { return Page(block, 3)[0] == 0x42; }
  void ExpectProgress(ORVIK_ULONG phase, double percent) {
    double seenPercent = -1;
    ORVIK_ULONG seenPhase = 0;
    OrvikGetProgress(&seenPercent, &seenPhase);
    EXPECT_EQ(seenPhase, phase);
    EXPECT_EQ(seenPercent, percent);
  }
};

TEST_F(DataAreaEraseTest, FlashOfOneZoneHasNothingToErase) {
  for (uint32_t type : {0u, 2u, 3u, 4u}) {
    SCOPED_TRACE("type " + std::to_string(type));
    if (player_) {
      OrvikCloseDriver();
      player_->Unregister();
    }
    StartScanned(type);
    EXPECT_EQ(EraseDataArea(type), PROGRAM_MEDIA_DONE);
    EXPECT_EQ(player_->Stats().transfers, 0u);
    ExpectProgress(ORVIK_PHASE_ERASE, 100.0);
  }
}

TEST_F(DataAreaEraseTest, Type1ErasesTheBlocksBeyondTheFirst256) {
  StartPlayer(1);
  for (uint32_t block : {10u, 255u, 256u, 511u}) Scribble(block);
  ASSERT_EQ(Scan(1), PROGRAM_MEDIA_DONE);
  player_->ResetStats();
  ASSERT_EQ(EraseDataArea(1), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 256u);
  EXPECT_TRUE(Scribbled(10));
  EXPECT_TRUE(Scribbled(255));
  EXPECT_FALSE(Scribbled(256));
  EXPECT_FALSE(Scribbled(511));
  ExpectProgress(ORVIK_PHASE_ERASE, 100.0);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

TEST_F(DataAreaEraseTest, Type5ErasesBlocks1024To2047ButNeverASystemBlock) {
  StartPlayer(5);
  MarkBlock(1500, 0x00, 0x00, 'Q', 'V');  // firmware above the first zone
  MarkBlock(1600, 0xFF, 0x00);            // bad
  for (uint32_t block : {1023u, 1024u, 1500u, 1600u, 2047u}) Scribble(block);
  ASSERT_EQ(Scan(5), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(Entry(1500), BLOCK_SYSTEM);
  player_->ResetStats();
  os_.debugText.clear();
  ASSERT_EQ(EraseDataArea(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 1024u - 2);
  EXPECT_TRUE(Scribbled(1023));
  EXPECT_FALSE(Scribbled(1024));
  EXPECT_FALSE(Scribbled(2047));
  EXPECT_TRUE(Scribbled(1500));
  EXPECT_EQ(Page(1500, 0)[512 + 6], 'Q');
  EXPECT_TRUE(Scribbled(1600));
  EXPECT_TRUE(os_.debugText.empty());
}

TEST_F(DataAreaEraseTest, FailedErasesBecomeBadBlocksWithADebugTextEach) {
  sim::PlayerConfig config;
  config.flashType = 5;
  config.faults.eraseFailures = {{1100, 0}, {2000, 0}};
  StartScanned(config);
  os_.debugText.clear();  // the open's own text
  EXPECT_EQ(EraseDataArea(5), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Entry(1100), BLOCK_BAD);
  EXPECT_EQ(Entry(2000), BLOCK_BAD);
  EXPECT_EQ(Entry(1101), BLOCK_GOOD);
  EXPECT_EQ(os_.debugText, "Bad Block: erase failed \nBad Block: erase failed \n");
  EXPECT_EQ(Frames(CMD_FLASH_ERASE_BLOCK), 1024u);  // the pass went on to the end
  ExpectProgress(ORVIK_PHASE_ERASE, 100.0);
}

TEST_F(DataAreaEraseTest, ErasedTypeMustBeTheScannedOne) {
  StartScanned(5);
  // Type 7 would walk 4096 entries of a table of 2048.
  EXPECT_EQ(EraseDataArea(7), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(EraseDataArea(4), PROGRAM_MEDIA_FORMAT_FAILED);
  OrvikFreeMemoryDevice(0);
  EXPECT_EQ(EraseDataArea(5), PROGRAM_MEDIA_FORMAT_FAILED);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  ExpectProgress(ORVIK_PHASE_ERASE, 0.0);
}

TEST_F(DataAreaEraseTest, OtherDrivesTypesAndMediaAreRefused) {
  StartScanned(5);
  OrvikSetProgress(50.0);
  // Drive 1 has no state; a one-entry array is never read past its end.
  EXPECT_EQ(EraseDataArea(5, 1), PROGRAM_MEDIA_NOT_FLASH);
  ExpectProgress(ORVIK_PHASE_ERASE, 0.0);
  EXPECT_EQ(OrvikFatEraseDataArea(nullptr, 0, nullptr), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(EraseDataArea(36), PROGRAM_MEDIA_NOT_FLASH);
  {
    MediaKindGuard card(protocol::MEDIA_KIND_MMC);
    EXPECT_EQ(EraseDataArea(5), PROGRAM_MEDIA_DONE);
  }
  {
    MediaKindGuard unknown(5);
    EXPECT_EQ(EraseDataArea(5), PROGRAM_MEDIA_NOT_FLASH);
  }
  EXPECT_EQ(player_->Stats().transfers, 0u);
}

}  // namespace
}  // namespace orvik::testing
