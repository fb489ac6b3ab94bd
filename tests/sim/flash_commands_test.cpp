// The NAND commands as a host sends them: frames built by hand, exchanged
// over one connection, results checked against the flash contents.
#include <gtest/gtest.h>

#include "sim/nand_array.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

std::shared_ptr<Player> NewPlayer(uint32_t flashType) {
  PlayerConfig config;
  config.flashType = flashType;
  return Player::Create(config);
}

TEST(NandArray, ProgrammingOnlyClearsBitsAndEraseRestoresOnes) {
  NandArray nand(GeometryOfFlashType(3));
  uint8_t first[kPageBytes], second[kPageBytes], stored[kPageBytes];
  for (uint32_t i = 0; i < kPageBytes; ++i) {
    first[i] = static_cast<uint8_t>(0xF0 | (i & 0x0F));
    second[i] = static_cast<uint8_t>(0x3C + i);
  }
  nand.ProgramPage(17, 0, first, kPageBytes);
  nand.ProgramPage(17, 0, second, kPageBytes);
  nand.ReadPage(17, stored);
  for (uint32_t i = 0; i < kPageBytes; ++i) ASSERT_EQ(stored[i], first[i] & second[i]) << i;
  nand.ReadPage(16, stored);  // its neighbour is untouched
  EXPECT_EQ(stored[0], 0xFF);
  nand.EraseBlock(1);  // pages 16..31 of a 16-page chip
  nand.ReadPage(17, stored);
  for (uint32_t i = 0; i < kPageBytes; ++i) ASSERT_EQ(stored[i], 0xFF);
  EXPECT_THROW(nand.ReadPage(16 * 1024, stored), std::out_of_range);
}

TEST(NandArray, OnlyChangedBlocksTakeMemoryEvenOnTheLargestChip) {
  NandArray nand(GeometryOfFlashType(35));
  ASSERT_EQ(nand.Geometry().blockCount, 32768u);
  uint8_t ones[kPageBytes];
  std::fill(std::begin(ones), std::end(ones), 0xFF);
  nand.ProgramPage(5000, 0, ones, kPageBytes);  // all-ones programs change nothing
  EXPECT_EQ(nand.StoredBlockCount(), 0u);
  uint8_t zero = 0;
  nand.ProgramPage(32768 * 32 - 1, 100, &zero, 1);
  EXPECT_EQ(nand.StoredBlockCount(), 1u);
  EXPECT_FALSE(nand.IsBlockErased(32767));
  nand.EraseBlock(32767);
  EXPECT_EQ(nand.StoredBlockCount(), 0u);
}

TEST(FlashCommands, SecondProgramOfAPageAndsWithTheFirst) {
  auto player = NewPlayer(7);
  Link link(player);
  RawPage a = PatternPage(1), b = PatternPage(2);
  uint32_t page = 3 * 32 + 4;
  ASSERT_TRUE(link.Send(WritePageFrame(uint64_t{page} * 512, 528), ToBytes(a)));
  ASSERT_TRUE(link.Send(WritePageFrame(uint64_t{page} * 512, 528), ToBytes(b)));
  Bytes reply = link.Ask(ReadPagesFrame(page, 1), 528);
  ASSERT_EQ(reply.size(), 528u);
  for (size_t i = 0; i < 528; ++i) ASSERT_EQ(reply[i], a[i] & b[i]) << i;
  EXPECT_EQ(ToBytes(player->ReadPage(page)), reply);

  Bytes erased = link.Ask(EraseFrame(3, 32), 6);
  EXPECT_EQ(erased, (Bytes{0, 0, 0, 0xC0, 0, 0}));
  EXPECT_TRUE(player->IsBlockErased(3));
  reply = link.Ask(ReadPagesFrame(page, 1), 528);
  EXPECT_EQ(reply, Bytes(528, 0xFF));
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
}

TEST(FlashCommands, ReadsArePaddedToThePacketsAskedFor) {
  auto player = NewPlayer(7);
  player->SetPageRaw(0, PatternPage(9));
  Link link(player);
  ASSERT_EQ(link.Write(ReadPagesFrame(0, 1)).error, 0u);
  os::DeviceAnswer answer;
  Bytes reply = link.Read(576, &answer);  // 528 rounded up to 9 packets
  EXPECT_EQ(answer.error, 0u);
  EXPECT_EQ(answer.count, 576u);
  EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + 528, PatternPage(9).begin()));
  EXPECT_EQ(Bytes(reply.begin() + 528, reply.end()), Bytes(48, 0));

  // Three pages of one block in one exchange: 1584 bytes in 25 packets.
  ASSERT_EQ(link.Write(ReadPagesFrame(0, 3)).error, 0u);
  reply = link.Read(1600, &answer);
  EXPECT_EQ(answer.count, 1600u);
  // A read longer than the reply's packets is not what the firmware sent.
  ASSERT_EQ(link.Write(ReadPagesFrame(0, 1)).error, 0u);
  link.Read(640, &answer);
  EXPECT_EQ(answer.error, os::kErrorGeneralFailure);
  EXPECT_EQ(player->Stats().protocolViolations, 1u);
}

TEST(FlashCommands, BlockMarksComeFromSpareBytesFourToNineOfTheFirstPage) {
  auto player = NewPlayer(0);  // 256 blocks of 8 pages
  RawPage page;
  page.fill(0xFF);
  for (uint32_t block : {0u, 7u, 255u}) {
    for (int i = 0; i < 6; ++i) page[512 + 4 + i] = static_cast<uint8_t>(block + i);
    player->SetPageRaw(block * 8, page);
  }
  page.fill(0);  // second page of block 7: not part of the marks
  player->SetPageRaw(7 * 8 + 1, page);
  Link link(player);
  Bytes marks = link.Ask(BlockMarksFrame(0, 256, 8), 1536);
  ASSERT_EQ(marks.size(), 1536u);
  EXPECT_EQ(Bytes(marks.begin() + 7 * 6, marks.begin() + 8 * 6), (Bytes{7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Bytes(marks.begin() + 6, marks.begin() + 12), Bytes(6, 0xFF));
  EXPECT_EQ(Bytes(marks.begin() + 255 * 6, marks.end()), (Bytes{255, 0, 1, 2, 3, 4}));

  // From block 250, 256 records: six blocks exist, the rest read as 0xFF.
  marks = link.Ask(BlockMarksFrame(250, 256, 8), 1536);
  ASSERT_EQ(marks.size(), 1536u);
  EXPECT_EQ(Bytes(marks.begin() + 5 * 6, marks.begin() + 6 * 6), (Bytes{255, 0, 1, 2, 3, 4}));
  EXPECT_EQ(Bytes(marks.begin() + 6 * 6, marks.end()), Bytes(1536 - 36, 0xFF));

  // Three records: 18 bytes then zeros up to one packet.
  Bytes few = link.Ask(BlockMarksFrame(7, 3, 8), 64);
  EXPECT_EQ(Bytes(few.begin(), few.begin() + 6), (Bytes{7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Bytes(few.begin() + 18, few.end()), Bytes(46, 0));
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
}

TEST(FlashCommands, SmallPageChipsTakeTwoHalfPagesAndReadBackWholePages) {
  auto player = NewPlayer(1);
  Link link(player);
  Bytes first(264), second(264);
  for (int i = 0; i < 264; ++i) {
    first[i] = static_cast<uint8_t>(i);
    second[i] = static_cast<uint8_t>(255 - i);
  }
  uint64_t address = (5 * 8 + 2) * 512;
  ASSERT_TRUE(link.Send(WritePageFrame(address, 264, 0x000100), first));
  ASSERT_TRUE(link.Send(WritePageFrame(address + 256, 264, 0x000100), second));
  Bytes page = link.Ask(ReadPagesFrame(5 * 8 + 2, 1, 0x000103), 528);
  ASSERT_EQ(page.size(), 528u);
  EXPECT_EQ(Bytes(page.begin(), page.begin() + 256), Bytes(first.begin(), first.begin() + 256));
  EXPECT_EQ(Bytes(page.begin() + 256, page.begin() + 512),
            Bytes(second.begin(), second.begin() + 256));
  EXPECT_EQ(Bytes(page.begin() + 512, page.begin() + 520), Bytes(first.begin() + 256, first.end()));
  EXPECT_EQ(Bytes(page.begin() + 520, page.end()), Bytes(second.begin() + 256, second.end()));
  // Whole pages (the write-pages command) are taken on these chips too.
  ASSERT_TRUE(link.Send(WritePagesFrame(8, 1, 0x000101), ToBytes(PatternPage(3))));
  EXPECT_EQ(player->ReadPage(8), PatternPage(3));
  EXPECT_EQ(player->Stats().protocolViolations, 0u);

  // Half pages only exist on the small chips.
  auto large = NewPlayer(7);
  Link largeLink(large);
  EXPECT_NE(largeLink.Write(WritePageFrame(512, 264)).error, 0u);
  EXPECT_NE(largeLink.Write(WritePageFrame(256, 528)).error, 0u);
  EXPECT_EQ(large->Stats().protocolViolations, 2u);
}

TEST(FlashCommands, WritePagesTakesExactlyCountPagesOfData) {
  auto player = NewPlayer(7);
  Link link(player);
  Bytes data;
  for (uint32_t i = 0; i < 3; ++i) {
    Bytes page = ToBytes(PatternPage(10 + i));
    data.insert(data.end(), page.begin(), page.end());
  }
  ASSERT_EQ(data.size(), 1584u);
  ASSERT_TRUE(link.Send(WritePagesFrame(64, 3), data));
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(player->ReadPage(64 + i), PatternPage(10 + i));

  // Data rounded up to whole packets is one packet too many: refused, unstored.
  Bytes padded = data;
  padded.resize(1600, 0);
  ASSERT_EQ(link.Write(WritePagesFrame(96, 3)).error, 0u);
  EXPECT_EQ(link.Write(padded).error, os::kErrorGeneralFailure);
  EXPECT_TRUE(player->IsBlockErased(3));
  // More pages than a block holds, or a packet count that does not match.
  EXPECT_NE(link.Write(WritePagesFrame(0, 33)).error, 0u);
  Bytes wrongPackets = FlashFrame(0x400101, 0, {528, 3, 24, 0});
  EXPECT_NE(link.Write(wrongPackets).error, 0u);
  EXPECT_EQ(player->Stats().protocolViolations, 3u);
}

TEST(FlashCommands, EraseReportsFailureOfAWornBlockAndKeepsItsContents) {
  PlayerConfig config;
  config.faults.eraseFailures[9] = 1;  // one more erase works, then it fails
  auto player = Player::Create(config);
  player->SetPageRaw(9 * 32, PatternPage(4));
  Link link(player);
  EXPECT_EQ(link.Ask(EraseFrame(9, 32), 6), (Bytes{0, 0, 0, 0xC0, 0, 0}));
  player->SetPageRaw(9 * 32, PatternPage(4));
  EXPECT_EQ(link.Ask(EraseFrame(9, 32), 6), (Bytes{1, 0, 0, 0xC1, 0, 0}));
  EXPECT_EQ(player->ReadPage(9 * 32), PatternPage(4));
  ASSERT_EQ(player->InjectedFaults().size(), 1u);
  EXPECT_EQ(player->InjectedFaults()[0].kind, InjectedFault::Kind::kEraseFailure);
  // An erase must name a whole block and its page count.
  EXPECT_NE(link.Write(FlashFrame(0x400104, 512, {32, 0})).error, 0u);
  EXPECT_NE(link.Write(EraseFrame(9, 16)).error, 0u);
  EXPECT_NE(link.Write(EraseFrame(4096, 32)).error, 0u);
  EXPECT_EQ(player->Stats().protocolViolations, 3u);
}

TEST(FlashCommands, ReadIdAnswersTheCodesThatMapToEachType) {
  for (uint32_t type = 0; type < kFlashTypeCount; ++type) {
    PlayerConfig config;
    config.flashType = type;
    config.card.present = false;
    auto player = Player::Create(config);
    Link link(player);
    Bytes reply = link.Ask(Words({0x800106, 0}), 6);
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_EQ(reply[0] | reply[1] | reply[2], 0) << "type " << type;
    FlashIdCodes codes{reply[3], reply[4]};
    EXPECT_EQ(reply[5], 0);
    EXPECT_EQ(FlashTypeForIdCodes(codes), type <= 2 ? FLASH_TYPE_UNKNOWN : type) << type;
  }
  struct Standard {
    uint8_t device;
    uint32_t type;
  };
  for (Standard entry : {Standard{0xE6, 3}, {0x73, 4}, {0x75, 5}, {0x76, 7}, {0x79, 11}}) {
    PlayerConfig config;
    config.flashType = entry.type;
    config.idCodes = FlashIdCodes{0xEC, entry.device};
    auto player = Player::Create(config);
    Link link(player);
    EXPECT_EQ(link.Ask(Words({0x000106, 0}), 6), (Bytes{0, 0, 0, 0xEC, entry.device, 0}));
    EXPECT_EQ(FlashTypeForIdCodes({0xEC, entry.device}), entry.type);
  }
  auto player = NewPlayer(7);
  Link link(player);
  Bytes other = link.Ask(Words({0x800106, 1}), 6);  // there is no second chip
  ASSERT_EQ(other.size(), 6u);
  EXPECT_NE(other[0] | other[1] | other[2], 0);
}

}  // namespace
}  // namespace orvik::sim::testing
