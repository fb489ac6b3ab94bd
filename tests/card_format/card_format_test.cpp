// The card format against a simulated card: the blocks it writes, the sizes
// it refuses, and what a failed write or allocation leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t LittleEndian16(const sim::CardBlock& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8;
}
uint32_t LittleEndian32(const sim::CardBlock& b, size_t at) {
  return LittleEndian16(b, at) | LittleEndian16(b, at + 2) << 16;
}

sim::CardBlock Filled(uint8_t value) {
  sim::CardBlock block;
  block.fill(value);
  return block;
}

class CardFormatTest : public SimPlayerTest {
 protected:
  // A player with a small flash and a card of the given capacity whose
  // first blocks hold a filler, so that untouched blocks show.
  void StartWithCard(uint32_t capacityBlocks) {
    if (player_) {  // a second card in the same test
      OrvikCloseDriver();
      player_->Unregister();
    }
    sim::PlayerConfig config;
    config.flashType = 0;
    config.card.capacityBlocks = capacityBlocks;
    StartPlayer(config);
    const uint32_t filled = std::min<uint32_t>(capacityBlocks, 300);
    for (uint32_t block = 0; block < filled; ++block)
      player_->WriteCardBlock(block, Filled(kFiller));
    player_->ResetStats();
  }

  int Format(uint32_t capacityBlocks) { return OrvikMMCFormat(0, capacityBlocks, &progress_); }
  sim::CardBlock Block(uint32_t block) const { return player_->ReadCardBlock(block); }
  bool IsZero(uint32_t block) const { return Block(block) == Filled(0); }

  // Checks the volume's structure against a sectors-per-FAT value and a type.
  void ExpectVolume(uint32_t capacity, uint32_t sectorsPerFat, bool fat16) {
    SCOPED_TRACE("capacity " + std::to_string(capacity));
    const sim::CardBlock mbr = Block(0), boot = Block(1);
    EXPECT_EQ(mbr[0x1C2], fat16 ? 0x06 : 0x01);
    EXPECT_EQ(LittleEndian32(mbr, 0x1C6), 1u);
    EXPECT_EQ(LittleEndian32(mbr, 0x1CA), capacity - 1);
    EXPECT_EQ(LittleEndian16(boot, 0x16), sectorsPerFat);
    EXPECT_EQ(std::string(boot.begin() + 0x36, boot.begin() + 0x3E),
              fat16 ? "FAT16   " : "FAT12   ");
    const Bytes head = fat16 ? Bytes{0xF8, 0xFF, 0xFF, 0xFF, 0x00} : Bytes{0xF8, 0xFF, 0xFF, 0x00};
    for (uint32_t fat : {2u, 2u + sectorsPerFat}) {
      const sim::CardBlock first = Block(fat);
      EXPECT_TRUE(std::equal(head.begin(), head.end(), first.begin())) << "FAT at " << fat;
      EXPECT_TRUE(std::all_of(first.begin() + 4, first.end(), [](uint8_t b) { return b == 0; }));
    }
    const uint32_t root = 2 + 2 * sectorsPerFat;
    for (uint32_t block = 3; block < root + 16; ++block)
      if (block != 2 + sectorsPerFat) {
        EXPECT_TRUE(IsZero(block)) << "block " << block;
      }
    if (root + 16 < 300) {
      EXPECT_EQ(Block(root + 16), Filled(kFiller)) << "data area written";
    }
    EXPECT_EQ(player_->Stats().cardBlocksWritten, 2u * sectorsPerFat + 20);
    EXPECT_EQ(progress_, 100.0);
  }

  // Every data cluster has a FAT entry, the two reserved ones included.
  static void ExpectFatCoversEveryCluster(const sim::CardBlock& boot) {
    const uint32_t perFat = LittleEndian16(boot, 0x16);
    const uint32_t total =
        LittleEndian16(boot, 0x13) != 0 ? LittleEndian16(boot, 0x13) : LittleEndian32(boot, 0x20);
    const uint32_t clusters = (total - 1 - 2 * perFat - 16) / 32;
    const bool fat16 = std::string(boot.begin() + 0x36, boot.begin() + 0x3B) == "FAT16";
    const uint32_t entries = perFat * 512 * 8 / (fat16 ? 16 : 12);
    EXPECT_GE(entries, clusters + 2) << perFat << " sectors per FAT for " << clusters;
    EXPECT_EQ(fat16, clusters >= 4085) << clusters << " clusters";
  }

  static constexpr uint8_t kFiller = 0xA5;
  double progress_ = 12.5;
};

TEST_F(CardFormatTest, Card12544xBlocksGetsTheClassicFat12Layout) {
  StartWithCard(125440);
  ASSERT_EQ(Format(125440), 1);
  const sim::CardBlock mbr = Block(0);
  EXPECT_EQ(Bytes(mbr.begin() + 0x1BE, mbr.begin() + 0x1CE),
            (Bytes{0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF,
                   0xE9, 0x01, 0x00}));
  EXPECT_TRUE(std::all_of(mbr.begin(), mbr.begin() + 0x1BE, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(
      std::all_of(mbr.begin() + 0x1CE, mbr.begin() + 0x1FE, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(mbr[0x1FE], 0x55);
  EXPECT_EQ(mbr[0x1FF], 0xAA);
  const sim::CardBlock boot = Block(1);
  EXPECT_EQ(Bytes(boot.begin(), boot.begin() + 62),
            (Bytes{0xEB, 0x00, 0x90, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x02,
                   0x20, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xF8, 0x0C, 0x00, 0x01, 0x00,
                   0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xE9, 0x01, 0x00, 0x00, 0x00, 0x29,
                   0x00, 0x00, 0x00, 0x00, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                   0x20, 0x20, 0x46, 0x41, 0x54, 0x31, 0x32, 0x20, 0x20, 0x20}));
  EXPECT_EQ(boot[0x1FE], 0x55);
  EXPECT_EQ(boot[0x1FF], 0xAA);
  ExpectVolume(125440, 12, false);  // root directory at blocks 26-41
  EXPECT_EQ(Block(42), Filled(kFiller));
  EXPECT_TRUE(IsZero(41));
}

TEST_F(CardFormatTest, LargerCardsGetFat16) {
  StartWithCard(131074);
  ASSERT_EQ(Format(131074), 1);
  ExpectVolume(131074, 17, true);

  StartWithCard(250880);
  ASSERT_EQ(Format(250880), 1);
  ExpectVolume(250880, 31, true);  // FATs at 2-32 and 33-63, root at 64-79
}

TEST_F(CardFormatTest, FatsAreSizedSoThatEveryClusterHasAnEntry) {
  // The plain rule leaves 32,768 and 65,536 blocks one entry short.
  for (uint32_t capacity : {32768u, 65536u}) {
    StartWithCard(capacity);
    ASSERT_EQ(Format(capacity), 1) << capacity;
    ExpectFatCoversEveryCluster(Block(1));
    EXPECT_EQ(Block(0)[0x1C2], 0x01);
  }
}

TEST_F(CardFormatTest, SizesWithTooManyClustersForFat12BecomeFat16) {
  for (uint32_t capacity : {130770u, 131072u, 131073u}) {
    StartWithCard(capacity);
    ASSERT_EQ(Format(capacity), 1) << capacity;
    EXPECT_EQ(Block(0)[0x1C2], 0x06) << capacity;
    ExpectFatCoversEveryCluster(Block(1));
  }
}

TEST_F(CardFormatTest, SizesWithoutASoundVolumeAreRefusedUntouched) {
  for (uint32_t capacity : {130762u, 130765u, 130769u, 51u}) {
    StartWithCard(capacity);
    progress_ = 37.5;
    EXPECT_EQ(Format(capacity), 0) << capacity;
    EXPECT_EQ(player_->Stats().transfers, 0u) << capacity;
    EXPECT_EQ(progress_, 37.5) << capacity;
    EXPECT_EQ(Block(0), Filled(kFiller));
  }
}

TEST_F(CardFormatTest, FailedWriteOfTheBootSectorKeepsThePartitionTable) {
  StartWithCard(125440);
  // Transfers: block 0's frame and data, then block 1's frame and data.
  player_->AddTransferFault({4, sim::TransferFault::Kind::kError});
  const size_t live = os_.LiveAllocations();  // the session's own buffer
  EXPECT_EQ(Format(125440), 0);
  EXPECT_EQ(progress_, 100.0);
  EXPECT_EQ(Block(0)[0x1BE], 0x80);
  EXPECT_EQ(LittleEndian32(Block(0), 0x1CA), 125439u);
  EXPECT_EQ(Block(1), Filled(kFiller));
  EXPECT_EQ(Block(2), Filled(kFiller));  // nothing after the failure
  EXPECT_EQ(os_.LiveAllocations(), live);
}

TEST_F(CardFormatTest, NullProgressOrFailedAllocationWritesNothing) {
  StartWithCard(65536);
  EXPECT_EQ(OrvikMMCFormat(0, 65536, nullptr), 0);
  EXPECT_EQ(player_->Stats().transfers, 0u);

  os_.FailAllocationNumber(1);
  progress_ = 3.0;
  EXPECT_EQ(Format(65536), 0);
  EXPECT_EQ(progress_, 3.0);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(Block(0), Filled(kFiller));
}

}  // namespace
}  // namespace orvik::testing
