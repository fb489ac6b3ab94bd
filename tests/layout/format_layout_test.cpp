// The per-type layout table and the partition size.
#include "media/format_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "protocol/flash_types.h"

namespace orvik::media {
namespace {

using protocol::kFlashTypes;

uint64_t LogicalSectors(uint32_t type) {
  return uint64_t{kFlashTypes[type].logicalBlockCount} * kFlashTypes[type].pagesPerBlock;
}

std::optional<uint32_t> SizeFromSystemBlocks(uint32_t type, uint32_t systemBlocks) {
  const auto& flash = kFlashTypes[type];
  return PartitionSectors(type, false, 0, flash.logicalBlockCount, systemBlocks,
                          flash.pagesPerBlock, flash.dataSize);
}

std::optional<uint32_t> SizeFromRegistry(uint32_t type, uint32_t reservedBlocks) {
  const auto& flash = kFlashTypes[type];
  return PartitionSectors(type, true, ReservedSectors(flash.pagesPerBlock, reservedBlocks),
                          flash.logicalBlockCount, 0, flash.pagesPerBlock, flash.dataSize);
}

// CHS address of a sector in the partition-entry form: head, sector byte
// (sector 1-based in bits 5-0, cylinder bits 9-8 in bits 7-6), cylinder byte.
struct Chs {
  uint32_t head, sectorByte, cylinderByte;
  bool operator==(const Chs&) const = default;
};
Chs ChsOf(const FormatLayout& layout, uint64_t sector) {
  uint64_t cylinder = sector / (uint64_t{layout.heads} * layout.sectorsPerTrack);
  uint32_t head = static_cast<uint32_t>(sector / layout.sectorsPerTrack % layout.heads);
  uint32_t s = static_cast<uint32_t>(sector % layout.sectorsPerTrack + 1);
  return {head, s | static_cast<uint32_t>((cylinder >> 8 & 3) << 6),
          static_cast<uint32_t>(cylinder & 0xFF)};
}

TEST(FormatLayoutTable, EveryRowIsAConsistentVolume) {
  for (uint32_t type = 0; type < kFormatLayoutCount; ++type) {
    SCOPED_TRACE("flash type " + std::to_string(type));
    const FormatLayout* layout = FormatLayoutFor(type);
    ASSERT_EQ(layout, &kFormatLayouts[type]);
    EXPECT_EQ(layout->fat1Sector, layout->bootSector + 1);
    EXPECT_EQ(layout->fat2Sector, layout->fat1Sector + layout->sectorsPerFat);
    EXPECT_LE(layout->RootDirectorySector() + kRootDirectorySectors, layout->lastFormatSector + 1);
    const bool fat12 = type <= 7;
    EXPECT_EQ(layout->fat, fat12 ? FatKind::kFat12 : FatKind::kFat16);
    EXPECT_EQ(layout->partitionType, fat12 ? 0x01 : 0x06);
    EXPECT_EQ(layout->totalSizeField, type <= 5 ? TotalSizeField::k16Bit : TotalSizeField::k32Bit);
    EXPECT_TRUE(layout->sectorsPerCluster == 8 || layout->sectorsPerCluster == 16 ||
                layout->sectorsPerCluster == 32);
    // The fixed size is a sound volume whose FAT addresses every cluster.
    uint64_t clusters = DataClusters(*layout, layout->fixedTotalSectors);
    EXPECT_LE(clusters + 2, FatEntryCapacity(*layout));
    EXPECT_TRUE(fat12 ? clusters <= 4084 : clusters >= 4085);
    EXPECT_EQ(SizeFromRegistry(type, 0), layout->fixedTotalSectors);
  }
}

TEST(FormatLayoutTable, PartitionsEndOnWholeCylinders) {
  EXPECT_EQ(kFormatLayouts[0].bootSector + kFormatLayouts[0].fixedTotalSectors, 2000u);
  EXPECT_EQ(kFormatLayouts[1].bootSector + kFormatLayouts[1].fixedTotalSectors, 4000u);
  EXPECT_EQ(kFormatLayouts[2].bootSector + kFormatLayouts[2].fixedTotalSectors, 8000u);
  for (uint32_t type = 3; type < kFormatLayoutCount; ++type) {
    const FormatLayout& layout = kFormatLayouts[type];
    uint64_t cylinder = uint64_t{layout.heads} * layout.sectorsPerTrack;
    uint64_t rounded = LogicalSectors(type) / cylinder * cylinder;
    if (type == 21) {
      // Kept unrounded: 575967 + 33 is not a multiple of 32 x 32 sectors.
      EXPECT_EQ(layout.fixedTotalSectors, 575967u);
      EXPECT_NE(layout.bootSector + layout.fixedTotalSectors, rounded);
    } else {
      EXPECT_EQ(layout.bootSector + layout.fixedTotalSectors, rounded) << "flash type " << type;
    }
  }
}

// The partition entry's CHS bytes follow from the geometry, except where the
// table keeps values that volumes of those types have always carried: a
// start sector byte of 0 (types 9 and 13) and end addresses that do not fit
// the 10-bit cylinder or are unrounded (types 12, 20, 21).
TEST(FormatLayoutTable, PartitionEntryAddressesFollowTheGeometry) {
  for (uint32_t type = 0; type < kFormatLayoutCount; ++type) {
    SCOPED_TRACE("flash type " + std::to_string(type));
    const FormatLayout& layout = kFormatLayouts[type];
    Chs start{layout.startHead, layout.startSectorByte, 0};
    Chs end{layout.endHead, layout.endSectorByte, layout.endCylinderByte};
    if (type != 9 && type != 13) {
      EXPECT_EQ(start, ChsOf(layout, layout.bootSector));
    }
    if (type != 12 && type != 20 && type != 21) {
      EXPECT_EQ(end, ChsOf(layout, layout.bootSector + layout.fixedTotalSectors - 1));
    }
  }
}

TEST(FormatLayoutTable, UnknownTypeHasNoRow) {
  EXPECT_EQ(FormatLayoutFor(36), nullptr);
  EXPECT_EQ(FormatLayoutFor(std::numeric_limits<uint32_t>::max()), nullptr);
  EXPECT_EQ(PartitionSectors(36, true, 0, 1000, 0, 32, 512), std::nullopt);
}

TEST(PartitionSize, SmallTypesAreFixed) {
  for (uint32_t type = 0; type <= 2; ++type) {
    const uint32_t fixed = kFormatLayouts[type].fixedTotalSectors;
    EXPECT_EQ(PartitionSectors(type, true, 4096, 250, 0, 8, 512), fixed);
    EXPECT_EQ(PartitionSectors(type, false, 0, 250, 200, 8, 512), fixed);
    EXPECT_EQ(PartitionSectors(type, false, 0, 0, 0, 0, 0), fixed);
  }
}

TEST(PartitionSize, FromTheRegistryReservation) {
  EXPECT_EQ(SizeFromRegistry(14, 0), 351687u);
  // 1024 KB on 16 KiB blocks: 64 blocks, 2048 sectors.
  EXPECT_EQ(ReservedSectors(32, 64), 2048u);
  EXPECT_EQ(SizeFromRegistry(4, 64), 31959u - 2048u);
  EXPECT_EQ(SizeFromRegistry(5, 64), 61917u);
  // The system blocks found by the scan do not count here.
  EXPECT_EQ(PartitionSectors(14, true, 0, 11000, 500, 32, 512), 351687u);
}

TEST(PartitionSize, FromTheSystemBlocks) {
  EXPECT_EQ(SizeFromSystemBlocks(14, 4), 351815u);  // (11000 - 4) x 32 - 57
  EXPECT_EQ(SizeFromSystemBlocks(3, 0), 15975u);
  // The reservation does not count here.
  EXPECT_EQ(PartitionSectors(14, false, 2048, 11000, 4, 32, 512), 351815u);
  // Pages of 2 sectors count twice.
  EXPECT_EQ(PartitionSectors(14, false, 0, 5500, 2, 32, 1024), 351815u);
}

TEST(PartitionSize, DifferencesBelowZeroAreUnusable) {
  const uint32_t fixed = kFormatLayouts[8].fixedTotalSectors;
  EXPECT_EQ(PartitionSectors(8, true, uint64_t{fixed} + 1, 5000, 0, 32, 512), std::nullopt);
  EXPECT_EQ(PartitionSectors(8, true, fixed, 5000, 0, 32, 512), std::nullopt);
  // A reservation of 2^32 - 1 blocks: R does not wrap to a small number.
  EXPECT_EQ(PartitionSectors(8, true, ReservedSectors(32, 0xFFFFFFFF), 5000, 0, 32, 512),
            std::nullopt);
  EXPECT_EQ(ReservedSectors(32, 0xFFFFFFFF), 0xFFFFFFFFull * 32);
  EXPECT_EQ(SizeFromSystemBlocks(8, 5001), std::nullopt);
  EXPECT_EQ(SizeFromSystemBlocks(8, 0xFFFFFFFF), std::nullopt);
  EXPECT_EQ(PartitionSectors(8, false, 0, 1, 0, 32, 512), std::nullopt);  // 32 < bootSector
  EXPECT_EQ(PartitionSectors(8, false, 0, 5000, 0, 32, 256), std::nullopt);
}

TEST(PartitionSize, VolumesTooSmallForTheirStructuresAreUnusable) {
  // Type 3: 1 + 2 x 3 + 16 = 23 system sectors and 16-sector clusters.
  EXPECT_EQ(SizeFromRegistry(3, 997), std::nullopt);  // 23 sectors: no cluster
  EXPECT_EQ(SizeFromRegistry(3, 996), 39u);           // one cluster
  EXPECT_EQ(SizeFromSystemBlocks(3, 997), std::nullopt);
  EXPECT_EQ(SizeFromSystemBlocks(3, 996), 39u);
}

TEST(PartitionSize, Fat16VolumesKeepAtLeast4085Clusters) {
  EXPECT_EQ(SizeFromRegistry(8, 912), 130777u);
  EXPECT_EQ(DataClusters(kFormatLayouts[8], 130777), 4085u);
  EXPECT_EQ(SizeFromRegistry(8, 913), std::nullopt);  // 4084 clusters: read as FAT12
  EXPECT_EQ(SizeFromSystemBlocks(8, 912), 130777u);
  EXPECT_EQ(SizeFromSystemBlocks(8, 913), std::nullopt);
  EXPECT_EQ(SizeFromRegistry(35, 31000), std::nullopt);
}

TEST(PartitionSize, CappedAtWhatTheFatAddresses) {
  const FormatLayout& type34 = kFormatLayouts[34];
  // 4 system blocks would give 991811 sectors, 30986 clusters for 30974
  // addressable ones.
  EXPECT_EQ(FatEntryCapacity(type34), 30976u);
  auto capped = SizeFromSystemBlocks(34, 4);
  ASSERT_TRUE(capped.has_value());
  EXPECT_EQ(*capped, 259u + 30974u * 32u);
  EXPECT_EQ(DataClusters(type34, *capped), 30974u);
  EXPECT_EQ(SizeFromSystemBlocks(34, 16), (31000u - 16u) * 32u - 61u);  // fits as it is

  const FormatLayout& type24 = kFormatLayouts[24];
  for (uint32_t systemBlocks = 0; systemBlocks <= 2; ++systemBlocks) {
    auto size = SizeFromSystemBlocks(24, systemBlocks);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(DataClusters(type24, *size), FatEntryCapacity(type24) - 2);
  }
  EXPECT_EQ(SizeFromSystemBlocks(24, 3), (21000u - 3u) * 32u - 43u);
}

// Every system block count of every type: the size is the plain formula
// except where the FAT caps it (types 24 and 34 with few system blocks) or
// where no sound volume fits; and every size given is a sound volume.
TEST(PartitionSize, EverySystemBlockCountGivesTheFormulaOrASoundCap) {
  for (uint32_t type = 3; type < kFormatLayoutCount; ++type) {
    const FormatLayout& layout = kFormatLayouts[type];
    const auto& flash = kFlashTypes[type];
    for (uint32_t system = 0; system <= flash.logicalBlockCount; ++system) {
      auto size = SizeFromSystemBlocks(type, system);
      int64_t formula =
          int64_t{flash.logicalBlockCount - system} * flash.pagesPerBlock - layout.bootSector;
      const bool capped = (type == 24 && system <= 2) || (type == 34 && system <= 15);
      if (!size) {
        uint64_t clusters = formula < 0 ? 0 : DataClusters(layout, static_cast<uint64_t>(formula));
        EXPECT_TRUE(clusters == 0 || (layout.fat == FatKind::kFat16 && clusters < 4085))
            << "type " << type << " system " << system;
        continue;
      }
      if (!capped) {
        ASSERT_EQ(*size, formula) << "type " << type << " system " << system;
      }
      uint64_t clusters = DataClusters(layout, *size);
      ASSERT_GE(clusters, 1u);
      ASSERT_LE(clusters + 2, FatEntryCapacity(layout)) << "type " << type;
      if (layout.fat == FatKind::kFat16) {
        ASSERT_GE(clusters, 4085u);
      }
      ASSERT_GE(layout.bootSector + *size, layout.lastFormatSector + 1);
    }
  }
}

}  // namespace
}  // namespace orvik::media
