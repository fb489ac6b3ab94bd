// Standard FAT tools judge the volumes the quick format lays out: the
// sectors it writes are built in memory (master boot record, hidden sectors,
// boot sector, FATs, root directory, first cluster), the data area is zeros
// up to the partition end, and fsck.fat and mtools read the partition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "media/format_layout.h"
#include "protocol/flash_types.h"
#include "support/fat_tool_judge.h"

namespace orvik::media {
namespace {

struct VolumeImage {
  std::vector<uint8_t> formatted;  // sectors 0..lastFormatSector
  uint64_t partitionStart = 0;     // sectors, from the partition entry
  uint64_t partitionSectors = 0;   // from the partition entry
};

uint32_t LittleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

VolumeImage BuildVolume(uint32_t type, uint32_t partitionSectors) {
  const FormatLayout& layout = kFormatLayouts[type];
  VolumeImage image;
  image.formatted.resize((uint64_t{layout.lastFormatSector} + 1) * kSectorBytes);
  for (uint32_t e = 0; e <= layout.lastFormatSector; ++e) {
    EXPECT_TRUE(BuildFormatSector(type, partitionSectors, e, &image.formatted[e * kSectorBytes]));
  }
  // Where the partition lies is read back from the master boot record.
  image.partitionStart = LittleEndian32(&image.formatted[454]);
  image.partitionSectors = LittleEndian32(&image.formatted[458]);
  return image;
}

struct Case {
  uint32_t type;
  bool sizeFromRegistry;
  uint32_t blocks;  // reserved blocks (registry) or system blocks (scan)
};

std::string Describe(const Case& c) {
  return "flash type " + std::to_string(c.type) +
         (c.sizeFromRegistry ? ", reserved blocks " : ", system blocks ") +
         std::to_string(c.blocks);
}

void PrintTo(const Case& c, std::ostream* out) { *out << Describe(c); }

std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return "Type" + std::to_string(param.param.type) +
         (param.param.sizeFromRegistry ? "Reserved" : "System") +
         std::to_string(param.param.blocks);
}

class FormatVolumeJudge : public ::testing::TestWithParam<Case> {};

TEST_P(FormatVolumeJudge, FsckAndMtoolsAcceptTheVolume) {
  if (!testing::FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  const Case c = GetParam();
  SCOPED_TRACE(Describe(c));
  const FormatLayout& layout = kFormatLayouts[c.type];
  const auto& flash = protocol::kFlashTypes[c.type];
  auto size =
      PartitionSectors(c.type, c.sizeFromRegistry,
                       c.sizeFromRegistry ? ReservedSectors(flash.pagesPerBlock, c.blocks) : 0,
                       flash.logicalBlockCount, c.sizeFromRegistry ? 0 : c.blocks,
                       flash.pagesPerBlock, flash.dataSize);
  ASSERT_TRUE(size.has_value());
  VolumeImage image = BuildVolume(c.type, *size);
  ASSERT_EQ(image.partitionStart, layout.bootSector);
  ASSERT_EQ(image.partitionSectors, *size);

  testing::ScratchDir dir;
  const uint64_t start = image.partitionStart * kSectorBytes;
  std::vector<uint8_t> partition(image.formatted.begin() + static_cast<ptrdiff_t>(start),
                                 image.formatted.end());
  const std::string volume = dir.File("partition.img");
  ASSERT_TRUE(testing::WriteImage(volume, partition, image.partitionSectors * kSectorBytes));

  testing::FsckReport fsck = testing::CheckWithFsck(volume);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.totalClusters, DataClusters(layout, *size)) << fsck.output;

  // The whole image too: mtools finds the volume where the master boot
  // record says the partition starts.
  const std::string whole = dir.File("whole.img");
  ASSERT_TRUE(testing::WriteImage(whole, image.formatted,
                                  (image.partitionStart + image.partitionSectors) * kSectorBytes));
  EXPECT_EQ(testing::ListWithMtools(whole + "@@" + std::to_string(start)), "");

  // A file written and read back by mtools (several clusters where there is
  // room), and the volume is still clean afterwards.
  const uint64_t dataBytes = DataClusters(layout, *size) * layout.sectorsPerCluster * kSectorBytes;
  EXPECT_EQ(testing::RoundTripWithMtools(volume, dir.File("in.txt"), dir.File("out.txt"),
                                         std::min<uint64_t>(dataBytes, 64 * 1024)),
            "");
  testing::FsckReport after = testing::CheckWithFsck(volume);
  EXPECT_TRUE(after.unexpectedLines.empty()) << after.output;
  EXPECT_NE(after.output.find("1 files"), std::string::npos) << after.output;
}

INSTANTIATE_TEST_SUITE_P(
    Types, FormatVolumeJudge,
    ::testing::Values(Case{0, true, 0}, Case{1, true, 0}, Case{2, false, 0}, Case{3, true, 0},
                      Case{3, true, 996},  // one data cluster
                      Case{4, true, 64}, Case{5, true, 64}, Case{6, false, 3}, Case{7, true, 0},
                      Case{8, true, 0}, Case{8, true, 912},  // 4085 clusters
                      Case{11, false, 5}, Case{14, true, 0}, Case{14, false, 4}, Case{21, true, 0},
                      Case{24, false, 0},  // capped at the FAT's entries
                      Case{34, false, 4},  // capped
                      Case{35, true, 64}),
    CaseName);

}  // namespace
}  // namespace orvik::media
