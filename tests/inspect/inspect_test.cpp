// The block map, the ECC check and the volume reader on simulated players.
#include <algorithm>

#include "inspect_fixture.h"
#include "support/fat_tool_judge.h"

namespace orvik::testing {
namespace {

using namespace sim::inspect;

TEST_F(InspectTest, BlockMapShowsWhatTheFormatLeft) {
  sim::PlayerConfig config;
  config.flashType = 3;
  config.factoryBadBlocks = {0, 9};
  Format(config, false, 0);
  MarkBlock(700, 0x00, 0x00, 'Q', 'V');
  MarkBlock(700, 0x00, 0x00, 'M', 'R', 1);
  MarkBlock(701, 0x00, 0x00, 'Q', 'V');

  BlockMap map = MapBlocks(*player_);
  EXPECT_EQ(map.cisBlock, 1u);
  EXPECT_EQ(map.blocks[0].role, BlockRole::kBad);
  EXPECT_EQ(map.blocks[1].role, BlockRole::kCis);
  EXPECT_EQ(map.blocks[9].role, BlockRole::kBad);
  // Sectors 0-63 in four logical blocks: blocks 2, 3, 4 and (past bad 9) 5.
  EXPECT_EQ(map.Count(BlockRole::kLogical), 4u);
  for (uint32_t logical = 0; logical < 4; ++logical)
    EXPECT_EQ(map.PhysicalBlockOf(logical), logical + 2);
  EXPECT_EQ(map.Count(BlockRole::kSystem), 2u);
  EXPECT_EQ(map.blocks[700].fileTag, uint8_t{'R'});
  EXPECT_FALSE(map.blocks[701].fileTag.has_value());
  EXPECT_EQ(map.Count(BlockRole::kFree), 1024u - 2 - 1 - 4 - 2);
  EXPECT_EQ(map.Count(BlockRole::kUnassigned), 0u);

  const std::string summary = DescribeBlockMap(map);
  EXPECT_NE(summary.find("CIS block: 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("system blocks of file 'R': 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("0->2, 1->3, 2->4, 3->5"), std::string::npos) << summary;
}

TEST_F(InspectTest, EccCheckFindsAndTheReaderCorrectsAFlippedBit) {
  Format(5);
  // Sector 35 (the boot sector: logical block 1, page 3 in block 2) loses a bit.
  const uint32_t page = 2 * 32 + 3;
  sim::RawPage raw = player_->ReadPage(page);
  const sim::RawPage good = raw;
  raw[300] = static_cast<uint8_t>(raw[300] ^ 0x20);
  player_->SetPageRaw(page, raw);

  EccReport report = CheckDataPages(*player_);
  ASSERT_EQ(report.findings.size(), 1u) << DescribeEccReport(report);
  EXPECT_EQ(report.findings[0].block, 2u);
  EXPECT_EQ(report.findings[0].page, 3u);
  EXPECT_EQ(report.findings[0].half, 1u);
  EXPECT_EQ(report.findings[0].check.verdict, EccVerdict::kCorrected);
  EXPECT_EQ(report.findings[0].check.byte, 300u - 256);
  EXPECT_EQ(report.findings[0].check.bit, 5u);

  LogicalVolume volume(*player_);
  uint8_t sector[512];
  ASSERT_TRUE(volume.ReadSector(35, sector));
  EXPECT_TRUE(std::equal(sector, sector + 512, good.begin()));
  EXPECT_EQ(volume.EccFindings().size(), 1u);
  // A second bit in the same half cannot be put right.
  raw[301] = static_cast<uint8_t>(raw[301] ^ 0x01);
  player_->SetPageRaw(page, raw);
  EXPECT_EQ(CheckDataPages(*player_).Count(EccVerdict::kUncorrectable), 1u);
}

TEST_F(InspectTest, ReaderFillsSectorsNoWrittenPageHolds) {
  Format(7);
  LogicalVolume ones(*player_);
  uint8_t sector[512];
  EXPECT_FALSE(ones.ReadSector(128, sector));  // past lastFormatSector: erased page
  EXPECT_TRUE(std::all_of(sector, sector + 512, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(ones.ReadSector(32000 * 32, sector));  // a logical block beyond zone 0
  LogicalVolume zeros(*player_, ErasedFill::kZeros);
  EXPECT_FALSE(zeros.ReadSector(5000, sector));  // a logical block never written
  EXPECT_TRUE(std::all_of(sector, sector + 512, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(zeros.ReadSector(127, sector));
}

TEST_F(InspectTest, ExportOfAnUnformattedFlashSaysWhy) {
  StartPlayer(3);
  ScratchDir dir;
  VolumeExport exported = ExportVolume(*player_, dir.File("volume.img"));
  EXPECT_FALSE(exported.ok);
  EXPECT_NE(exported.error.find("never written"), std::string::npos) << exported.error;
  EXPECT_FALSE(exported.map.cisBlock.has_value());
  EXPECT_EQ(exported.map.Count(BlockRole::kFree), 1024u);
}

}  // namespace
}  // namespace orvik::testing
