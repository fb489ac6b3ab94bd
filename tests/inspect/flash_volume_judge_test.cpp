// Standard FAT tools judge the flash volume of a quick-formatted simulated
// player, exported through the block-address fields as a reader maps them.
#include <algorithm>
#include <ostream>

#include "inspect_fixture.h"
#include "media/format_layout.h"
#include "support/fat_tool_judge.h"

namespace orvik::testing {
namespace {

using namespace sim::inspect;

struct Case {
  uint32_t type;
  bool sizeFromRegistry;
  uint32_t reservedKb;
  std::vector<uint32_t> badBlocks;  // factory bad blocks
};

std::string Describe(const Case& c) {
  std::string text =
      "type " + std::to_string(c.type) +
      (c.sizeFromRegistry ? ", size from a reservation of " + std::to_string(c.reservedKb) + " KB"
                          : ", size from the system blocks");
  if (!c.badBlocks.empty()) text += ", " + std::to_string(c.badBlocks.size()) + " bad blocks";
  return text;
}
void PrintTo(const Case& c, std::ostream* out) { *out << Describe(c); }

class FlashVolumeJudge : public InspectTest, public ::testing::WithParamInterface<Case> {};

TEST_P(FlashVolumeJudge, FsckAndMtoolsAcceptTheExportedVolume) {
  if (!FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  const Case c = GetParam();
  SCOPED_TRACE(Describe(c));
  sim::PlayerConfig config;
  config.flashType = c.type;
  config.factoryBadBlocks = c.badBlocks;
  Format(config, c.sizeFromRegistry, c.reservedKb);

  ScratchDir dir;
  const std::string image = dir.File("volume.img");
  VolumeExport exported = ExportVolume(*player_, image);
  ASSERT_TRUE(exported.ok) << exported.error;
  const media::FormatLayout& layout = media::kFormatLayouts[c.type];
  EXPECT_EQ(exported.partitionStart, layout.bootSector);
  // Every sector of the partition that the format wrote came from the flash.
  EXPECT_EQ(exported.sectorsFromFlash, layout.lastFormatSector + 1 - layout.bootSector);
  EXPECT_TRUE(exported.eccFindings.empty());
  EXPECT_EQ(exported.map.Count(BlockRole::kBad), c.badBlocks.size());
  EXPECT_TRUE(exported.map.duplicates.empty());

  FsckReport fsck = CheckWithFsck(image);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.totalClusters, media::DataClusters(layout, exported.partitionSectors));
  ToolRun dirList = RunTool("MTOOLS_NO_VFAT=1 mdir -i '" + image + "' ::");
  EXPECT_EQ(dirList.exitCode, 0) << dirList.output;
  EXPECT_NE(dirList.output.find("No files"), std::string::npos) << dirList.output;

  EccReport ecc = CheckDataPages(*player_, exported.map);
  EXPECT_TRUE(ecc.findings.empty()) << DescribeEccReport(ecc);
  EXPECT_EQ(ecc.pagesChecked, layout.lastFormatSector + 2u);  // and the CIS page
}

INSTANTIATE_TEST_SUITE_P(
    Types, FlashVolumeJudge,
    ::testing::Values(Case{0, true, 0, {}}, Case{1, false, 0, {3, 200}}, Case{3, true, 0, {}},
                      Case{3, false, 0, {1, 2, 600}}, Case{5, true, 1024, {}},
                      Case{5, false, 0, {0, 4}}, Case{7, true, 0, {}},
                      Case{7, false, 0, {2, 3, 900, 3000}}, Case{8, true, 2048, {}},
                      Case{8, false, 0, {}}, Case{11, true, 0, {7}}, Case{11, false, 0, {}},
                      Case{19, true, 4096, {}}, Case{19, false, 0, {1, 1023}},
                      Case{35, true, 1024, {}}, Case{35, false, 0, {5, 6, 7}}));

TEST_F(InspectTest, ZeroFilledExportLeavesHolesAndPassesToo) {
  if (!FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  Format(11);
  ScratchDir dir;
  VolumeExportOptions options;
  options.fill = ErasedFill::kZeros;
  VolumeExport exported = ExportVolume(*player_, dir.File("volume.img"), options);
  ASSERT_TRUE(exported.ok) << exported.error;
  FsckReport fsck = CheckWithFsck(dir.File("volume.img"));
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(RoundTripWithMtools(dir.File("volume.img"), dir.File("in"), dir.File("out"), 96 * 1024),
            "");
}

}  // namespace
}  // namespace orvik::testing
