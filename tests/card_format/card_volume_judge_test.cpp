// Standard FAT tools judge the cards the card format leaves: the simulated
// player is saved, fsck.fat checks the partition of mmc.bin (from byte 512)
// and mtools writes and reads a file through mmc.bin@@512.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/fat_tool_judge.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

class CardVolumeJudge : public SimPlayerTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(CardVolumeJudge, FsckAndMtoolsAcceptTheFormattedCard) {
  if (!FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  const uint32_t capacity = GetParam();
  sim::PlayerConfig config;
  config.flashType = 0;  // the card is what counts; a small flash keeps the save small
  config.card.capacityBlocks = capacity;
  StartPlayer(config);
  double progress = 0;
  ASSERT_EQ(OrvikMMCFormat(0, capacity, &progress), 1);
  EXPECT_EQ(progress, 100.0);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);

  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(player_->Save(dir.File("player"), &error)) << error;
  const std::string card = dir.File("player/mmc.bin");

  // The partition of the saved image, block 1 to the end: its written
  // blocks copied out, the rest zeros (holes).
  const sim::CardBlock boot = player_->ReadCardBlock(1);
  const uint32_t perFat = uint32_t{boot[0x16]} | uint32_t{boot[0x17]} << 8;
  const uint64_t systemBytes = (1 + 2 * uint64_t{perFat} + 16) * 512;
  std::vector<uint8_t> head(systemBytes);
  {
    std::ifstream in(card, std::ios::binary);
    in.seekg(512);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    ASSERT_TRUE(in) << "mmc.bin is shorter than its volume";
  }
  const std::string partition = dir.File("partition.img");
  ASSERT_TRUE(WriteImage(partition, head, (uint64_t{capacity} - 1) * 512));
  FsckReport fsck = CheckWithFsck(partition);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_GT(fsck.totalClusters, 0u) << fsck.output;

  // Several clusters of 16 KiB where the card has them.
  const uint64_t fileBytes = std::min<uint64_t>(80 * 1024, fsck.totalClusters * 16 * 1024);
  EXPECT_EQ(RoundTripWithMtools(card + "@@512", dir.File("in.txt"), dir.File("out.txt"), fileBytes),
            "");
}

// 8, 16, 32, 61.25, 64, 128, 256 and 512 MiB, and a few odd sizes.
INSTANTIATE_TEST_SUITE_P(Capacities, CardVolumeJudge,
                         ::testing::Values(16384u, 32768u, 65536u, 125440u, 131072u, 262144u,
                                           524288u, 1048576u, 52u, 4001u, 100001u, 130770u, 131074u,
                                           777777u));

}  // namespace
}  // namespace orvik::testing
