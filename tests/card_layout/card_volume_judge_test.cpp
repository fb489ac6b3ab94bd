// Standard FAT tools judge the card volumes: the blocks the card format
// writes are built in memory from the write plan, the rest of the card is
// zeros, fsck.fat checks the partition and mtools writes and reads a file
// through the partition at block 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "mmc/card_layout.h"
#include "support/fat_tool_judge.h"

namespace orvik::mmc {
namespace {

std::vector<uint8_t> FormattedBlocks(const CardLayout& layout) {
  std::vector<uint8_t> card(uint64_t{layout.FirstDataBlock()} * kCardBlockBytes, 0xA5);
  for (uint32_t i = 0; i < CardFormatWriteCount(layout); ++i) {
    CardWrite write = CardFormatWriteAt(layout, i);
    BuildCardBlock(layout, write.content, &card[uint64_t{write.block} * kCardBlockBytes]);
  }
  return card;
}

class CardVolumeJudge : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CardVolumeJudge, FsckAndMtoolsAcceptTheCard) {
  if (!testing::FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  const uint32_t capacity = GetParam();
  auto planned = PlanCardLayout(capacity);
  ASSERT_TRUE(planned.has_value());
  const CardLayout& layout = *planned;
  std::vector<uint8_t> card = FormattedBlocks(layout);
  // Every block up to the data area was written (no filler byte is left).
  ASSERT_EQ(std::count(card.begin(), card.end(), uint8_t{0xA5}), 0);

  testing::ScratchDir dir;
  const std::string image = dir.File("card.img");
  ASSERT_TRUE(testing::WriteImage(image, card, uint64_t{capacity} * kCardBlockBytes));
  const std::string partition = dir.File("partition.img");
  std::vector<uint8_t> partitionStart(card.begin() + kCardBlockBytes, card.end());
  ASSERT_TRUE(testing::WriteImage(partition, partitionStart,
                                  uint64_t{layout.partitionBlocks} * kCardBlockBytes));

  testing::FsckReport fsck = testing::CheckWithFsck(partition);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.totalClusters, layout.dataClusters) << fsck.output;

  const uint64_t dataBytes =
      uint64_t{layout.dataClusters} * kCardSectorsPerCluster * kCardBlockBytes;
  EXPECT_EQ(testing::RoundTripWithMtools(image + "@@512", dir.File("in.txt"), dir.File("out.txt"),
                                         std::min<uint64_t>(dataBytes, 96 * 1024)),
            "");
}

INSTANTIATE_TEST_SUITE_P(Capacities, CardVolumeJudge,
                         ::testing::Values(52u, 1000u, 16384u, 32768u, 32769u, 65536u, 100001u,
                                           125440u, 130761u, 130770u, 131072u, 131073u, 131074u,
                                           250880u, 262144u, 524288u, 1048576u, 2097152u));

}  // namespace
}  // namespace orvik::mmc
