// The MMC card commands, reply layouts byte for byte, and card faults.
#include <gtest/gtest.h>

#include "sim/mmc_registers.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

Bytes Of(const CardBlock& block) { return Bytes(block.begin(), block.end()); }

PlayerConfig CardPlayer() {
  PlayerConfig config;
  config.card.capacityBlocks = 125440;
  config.card.attribute = 5;
  config.card.eraseGroupBlocks = 32;
  config.card.ocr = 0x80FF8000;
  config.card.statusWord = 0x0900;
  return config;
}

TEST(CardCommands, RegisterRepliesByteForByte) {
  auto player = Player::Create(CardPlayer());
  CardConfig card = player->Card();
  Link link(player);
  EXPECT_EQ(link.Ask(CardFrame(0, 0, 0), 15),
            (Bytes{0, 0, 0, 0x00, 0xEA, 0x01, 0x00, 0, 0, 5, 0, 0, 32, 0, 0}));
  EXPECT_EQ(link.Ask(CardFrame(1, 0, 0), 3), (Bytes{0x00, 0x09, 0}));
  Bytes cid = link.Ask(CardFrame(2, 0x80, 0), 21);
  EXPECT_EQ(Bytes(cid.begin(), cid.begin() + 3), Bytes(3, 0));
  EXPECT_EQ(Bytes(cid.begin() + 3, cid.end()), Bytes(card.cid.begin(), card.cid.end()));
  EXPECT_EQ(link.Ask(CardFrame(3, 0x80, 0), 9), (Bytes{0, 0, 0, 0x00, 0x80, 0xFF, 0x80, 0, 0}));
  Bytes csd = link.Ask(CardFrame(4, 0x80, 0), 21);
  EXPECT_EQ(Bytes(csd.begin() + 3, csd.begin() + 19), Bytes(card.csd->begin(), card.csd->end()));
  EXPECT_EQ(Bytes(csd.begin() + 19, csd.end()), Bytes(2, 0));
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
}

TEST(CardCommands, DefaultRegistersDescribeTheCard) {
  std::array<uint8_t, 16> csd = CardCsdForCapacity(65536, 32);
  EXPECT_EQ(CardCapacityFromCsd(csd), 65536u);
  EXPECT_EQ(csd[15] & 1, 1);
  EXPECT_EQ(csd[15] >> 1, CardCrc7(csd.data(), 15));
  EXPECT_EQ(CardCapacityFromCsd(CardCsdForCapacity(1048576, 16)), 1048576u);
  // A capacity the fields cannot express exactly is rounded down.
  EXPECT_LE(CardCapacityFromCsd(CardCsdForCapacity(125440, 32)), 125440u);
  EXPECT_GT(CardCapacityFromCsd(CardCsdForCapacity(125440, 32)), 125440u - 512);
  // The classic CRC7 check value: "123456789" gives 0x75.
  const char* digits = "123456789";
  EXPECT_EQ(CardCrc7(reinterpret_cast<const uint8_t*>(digits), 9), 0x75);
}

TEST(CardCommands, ProgrammedCsdIsReadBackAsSent) {
  auto player = Player::Create(CardPlayer());
  Link link(player);
  Bytes image(16);
  for (int i = 0; i < 16; ++i) image[i] = static_cast<uint8_t>(0xA0 + i);
  Bytes frame = CardFrame(5, 0x40, 0, Concat({image, Bytes(2, 0)}));
  ASSERT_EQ(frame.size(), 24u);
  EXPECT_EQ(link.Ask(frame, 3), Bytes(3, 0));
  Bytes csd = link.Ask(CardFrame(4, 0x80, 0), 21);
  EXPECT_EQ(Bytes(csd.begin() + 3, csd.begin() + 19), image);
}

TEST(CardCommands, BlockWritesReadsAndEraseToZeros) {
  auto player = Player::Create(CardPlayer());
  Link link(player);
  Bytes blocks(3 * 512);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i * 13 + 1);
  Bytes params = Concat({Le32(40 * 512), Bytes(2, 0), Bytes{3, 0, 0}});
  ASSERT_TRUE(link.Send(CardFrame(9, 0x40, 0, params), blocks));
  ASSERT_TRUE(
      link.Send(CardFrame(8, 0x40, 0, Concat({Le32(100 * 512), Bytes(2, 0)})), Bytes(512, 0x5A)));
  // One block read: 06 02 80 00 00 00 | address | 00 00.
  Bytes single = link.Ask(CardFrame(6, 0x80, 0, Concat({Le32(41 * 512), Bytes(2, 0)})), 512);
  EXPECT_EQ(single, Bytes(blocks.begin() + 512, blocks.begin() + 1024));
  Bytes multiple = link.Ask(CardFrame(7, 0x80, 0, params), 3 * 512);
  EXPECT_EQ(multiple, blocks);
  EXPECT_EQ(Of(player->ReadCardBlock(100)), Bytes(512, 0x5A));

  // Erase blocks 41..100: the byte address of the first and of the last block.
  Bytes erase =
      CardFrame(10, 0x40, 0, Concat({Le32(41 * 512), Bytes(2, 0), Le32(100 * 512), Bytes(2, 0)}));
  EXPECT_EQ(link.Ask(erase, 3), Bytes(3, 0));
  EXPECT_EQ(Of(player->ReadCardBlock(40)), Bytes(blocks.begin(), blocks.begin() + 512));
  for (uint32_t block : {41u, 42u, 100u})
    EXPECT_EQ(Of(player->ReadCardBlock(block)), Bytes(512, 0)) << block;
  Statistics stats = player->Stats();
  EXPECT_EQ(stats.protocolViolations, 0u);
  EXPECT_EQ(stats.cardBlocksWritten, 4u);
  EXPECT_EQ(stats.cardEraseCommands, 1u);

  // Addresses off a block boundary or past the card are malformed.
  EXPECT_NE(link.Write(CardFrame(6, 0x80, 0, Concat({Le32(100), Bytes(2, 0)}))).error, 0u);
  EXPECT_NE(link.Write(CardFrame(6, 0x80, 0, Concat({Le32(125440 * 512), Bytes(2, 0)}))).error, 0u);
  EXPECT_NE(
      link.Write(CardFrame(10, 0x40, 0, Concat({Le32(1024), Bytes(2, 0), Le32(512), Bytes(2, 0)})))
          .error,
      0u);
  EXPECT_EQ(player->Stats().protocolViolations, 3u);
}

TEST(CardCommands, EmptySlotOtherDriveAndFailingCommands) {
  PlayerConfig config = CardPlayer();
  config.card.failingCommands = {4, 8};
  config.card.failureStatus = 0x21;
  auto player = Player::Create(config);
  Link link(player);
  // Failing CSD read: status byte set, no register.
  EXPECT_EQ(link.Ask(CardFrame(4, 0x80, 0), 21), Concat({Bytes{0x21}, Bytes(20, 0)}));
  // A failing block write refuses its data, which is not stored.
  ASSERT_EQ(link.Write(CardFrame(8, 0x40, 0, Concat({Le32(0), Bytes(2, 0)}))).error, 0u);
  EXPECT_EQ(link.Write(Bytes(512, 1)).error, os::kErrorGeneralFailure);
  EXPECT_EQ(player->ReadCardBlock(0)[0], 0);
  // Drive 1 reaches no card: detect fails, block reads fail their transfer.
  Bytes detect = link.Ask(CardFrame(0, 0, 1), 15);
  ASSERT_EQ(detect.size(), 15u);
  EXPECT_NE(detect[0], 0);
  EXPECT_EQ(Bytes(detect.begin() + 1, detect.end()), Bytes(14, 0));
  EXPECT_TRUE(link.Ask(CardFrame(6, 0x80, 1, Concat({Le32(0), Bytes(2, 0)})), 512).empty());
  EXPECT_TRUE(link.Ask(CardFrame(1, 0, 1), 3).empty());
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
  EXPECT_EQ(player->InjectedFaults().size(), 2u);

  CardConfig empty = player->Card();
  empty.present = false;
  player->SetCard(empty);
  EXPECT_NE(link.Ask(CardFrame(0, 0, 0), 15)[0], 0);
  EXPECT_NE(
      link.Ask(CardFrame(10, 0x40, 0, Concat({Le32(0), Bytes(2, 0), Le32(0), Bytes(2, 0)})), 3)[0],
      0);
}

}  // namespace
}  // namespace orvik::sim::testing
