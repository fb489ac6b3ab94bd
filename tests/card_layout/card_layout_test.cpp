// The card's FAT layout: sizes, boot records and the format's write plan.
#include "mmc/card_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

namespace orvik::mmc {
namespace {

using Block = std::array<uint8_t, 512>;

std::vector<uint8_t> Bytes(const Block& block, size_t offset, size_t count) {
  return {block.begin() + static_cast<ptrdiff_t>(offset),
          block.begin() + static_cast<ptrdiff_t>(offset + count)};
}

CardLayout Plan(uint32_t capacity) {
  auto layout = PlanCardLayout(capacity);
  EXPECT_TRUE(layout.has_value()) << capacity << " blocks";
  return layout.value_or(CardLayout{});
}

// The classic sizing rule as it was always stated: N x 0.03125 clusters
// rounded up, 1.5 or 2 bytes each, x 0.001953125 rounded up, in doubles.
uint32_t RuleSectorsPerFat(uint32_t partitionBlocks, CardFatKind fat) {
  double clusters = std::ceil(partitionBlocks * 0.03125);
  double bytes = clusters * (fat == CardFatKind::kFat12 ? 1.5 : 2.0);
  return static_cast<uint32_t>(std::ceil(bytes * 0.001953125));
}

TEST(CardLayout, A61MiBCardIsFat12) {
  CardLayout layout = Plan(125440);
  EXPECT_EQ(layout.partitionBlocks, 125439u);
  EXPECT_EQ(layout.fat, CardFatKind::kFat12);
  EXPECT_EQ(layout.sectorsPerFat, 12u);
  EXPECT_EQ(layout.Fat2Block(), 14u);
  EXPECT_EQ(layout.RootDirectoryBlock(), 26u);
  EXPECT_EQ(layout.FirstDataBlock(), 42u);

  Block mbr, boot;
  BuildCardMasterBootRecord(layout, mbr.data());
  BuildCardBootSector(layout, boot.data());
  EXPECT_EQ(Bytes(mbr, 0x1BE, 16),
            (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                                  0x00, 0xFF, 0xE9, 0x01, 0x00}));
  EXPECT_EQ(Bytes(boot, 0, 62),
            (std::vector<uint8_t>{0xEB, 0x00, 0x90, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                                  0x00, 0x02, 0x20, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xF8,
                                  0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF,
                                  0xE9, 0x01, 0x00, 0x00, 0x00, 0x29, 0x00, 0x00, 0x00, 0x00, 0x20,
                                  0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x46,
                                  0x41, 0x54, 0x31, 0x32, 0x20, 0x20, 0x20}));
  // Everything else is zero but the signatures.
  for (size_t i = 0; i < 512; ++i) {
    bool entryOrSignature = (i >= 0x1BE && i < 0x1CE) || i >= 0x1FE;
    if (!entryOrSignature) {
      EXPECT_EQ(mbr[i], 0) << "MBR byte " << i;
    }
    if (i >= 62 && i < 0x1FE) {
      EXPECT_EQ(boot[i], 0) << "boot byte " << i;
    }
  }
  EXPECT_EQ(Bytes(mbr, 0x1FE, 2), (std::vector<uint8_t>{0x55, 0xAA}));
  EXPECT_EQ(Bytes(boot, 0x1FE, 2), (std::vector<uint8_t>{0x55, 0xAA}));
}

TEST(CardLayout, LargerCardsAreFat16) {
  CardLayout just = Plan(131074);
  EXPECT_EQ(just.fat, CardFatKind::kFat16);
  EXPECT_EQ(just.sectorsPerFat, 17u);
  EXPECT_EQ(just.PartitionType(), 0x06);

  CardLayout layout = Plan(250880);
  EXPECT_EQ(layout.fat, CardFatKind::kFat16);
  EXPECT_EQ(layout.sectorsPerFat, 31u);
  EXPECT_EQ(layout.Fat2Block(), 33u);
  EXPECT_EQ(layout.RootDirectoryBlock(), 64u);
  EXPECT_EQ(layout.FirstDataBlock(), 80u);
  Block head, boot, mbr;
  BuildCardFatHead(layout, head.data());
  BuildCardBootSector(layout, boot.data());
  BuildCardMasterBootRecord(layout, mbr.data());
  Block expectedHead{};
  expectedHead[0] = 0xF8;
  expectedHead[1] = expectedHead[2] = expectedHead[3] = 0xFF;
  EXPECT_EQ(head, expectedHead);
  EXPECT_EQ(Bytes(boot, 0x13, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(Bytes(boot, 0x20, 4), (std::vector<uint8_t>{0xFF, 0xD3, 0x03, 0x00}));  // 250879
  EXPECT_EQ(Bytes(boot, 0x36, 8), (std::vector<uint8_t>{'F', 'A', 'T', '1', '6', ' ', ' ', ' '}));
  EXPECT_EQ(mbr[0x1C2], 0x06);

  Block fat12Head;
  BuildCardFatHead(Plan(125440), fat12Head.data());
  EXPECT_EQ(Bytes(fat12Head, 0, 4), (std::vector<uint8_t>{0xF8, 0xFF, 0xFF, 0x00}));
}

// The rule leaves out the two reserved entries: at 32,768 and 65,536 blocks
// its FAT is one entry short, so the FAT grows by a block.
TEST(CardLayout, FatsHoldAnEntryForEveryCluster) {
  CardLayout small = Plan(32768);
  EXPECT_EQ(RuleSectorsPerFat(32767, CardFatKind::kFat12), 3u);
  EXPECT_EQ(small.fat, CardFatKind::kFat12);
  EXPECT_EQ(small.sectorsPerFat, 4u);
  EXPECT_EQ(small.dataClusters, 1023u);

  CardLayout layout = Plan(65536);
  EXPECT_EQ(RuleSectorsPerFat(65535, CardFatKind::kFat12), 6u);
  EXPECT_EQ(layout.sectorsPerFat, 7u);
  EXPECT_EQ(layout.dataClusters, 2047u);
  EXPECT_EQ(layout.RootDirectoryBlock(), 16u);
  EXPECT_EQ(layout.FirstDataBlock(), 32u);
  Block boot;
  BuildCardBootSector(layout, boot.data());
  EXPECT_EQ(Bytes(boot, 0x13, 2), (std::vector<uint8_t>{0xFF, 0xFF}));  // N = 65535, 16 bits
  EXPECT_EQ(Bytes(boot, 0x20, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(boot[0x16], 7);
}

// Readers take any volume of 4,085 clusters or more for FAT16, whatever its
// label says.
TEST(CardLayout, TheTypeFollowsTheClusterCount) {
  CardLayout largestFat12 = Plan(130761);
  EXPECT_EQ(largestFat12.fat, CardFatKind::kFat12);
  EXPECT_EQ(largestFat12.dataClusters, 4084u);
  for (uint32_t capacity : {130770u, 131072u, 131073u}) {
    CardLayout layout = Plan(capacity);
    EXPECT_EQ(layout.fat, CardFatKind::kFat16) << capacity;
    EXPECT_GE(layout.dataClusters, 4085u) << capacity;
    EXPECT_EQ(layout.PartitionType(), 0x06);
  }
  EXPECT_EQ(Plan(131072).dataClusters, 4094u);
  for (uint32_t capacity = 130762; capacity <= 130769; ++capacity) {
    EXPECT_EQ(PlanCardLayout(capacity), std::nullopt) << capacity;
  }
}

TEST(CardLayout, CardsWithoutRoomForAValidVolumeAreRefused) {
  for (uint32_t capacity : {0u, 1u, 2u, 51u}) {
    EXPECT_EQ(PlanCardLayout(capacity), std::nullopt) << capacity;
  }
  CardLayout smallest = Plan(52);
  EXPECT_EQ(smallest.sectorsPerFat, 1u);
  EXPECT_EQ(smallest.dataClusters, 1u);
  EXPECT_EQ(smallest.FirstDataBlock() + 32, 52u);

  EXPECT_EQ(Plan(2097152).dataClusters, 65519u);     // 1 GiB
  EXPECT_EQ(PlanCardLayout(4194304), std::nullopt);  // 2 GiB: 131,000 clusters
  EXPECT_EQ(PlanCardLayout(0xFFFFFFFF), std::nullopt);
}

// Every capacity up to past the FAT16 limit: the layout is valid, the FAT
// covers every cluster, and the rule's S is kept wherever it was enough.
TEST(CardLayout, EveryCapacityGivesAValidVolumeOrNone) {
  uint32_t largestAccepted = 0;
  for (uint32_t capacity = 0; capacity <= 2100000; ++capacity) {
    auto planned = PlanCardLayout(capacity);
    if (!planned) continue;
    const CardLayout& layout = *planned;
    largestAccepted = capacity;
    const uint32_t n = capacity - 1;
    ASSERT_EQ(layout.partitionBlocks, n);
    const uint32_t s = layout.sectorsPerFat;
    const uint32_t clusters = (n - 1 - 2 * s - 16) / 32;
    ASSERT_EQ(layout.dataClusters, clusters) << capacity;
    ASSERT_GE(clusters, 1u);
    const bool fat12 = layout.fat == CardFatKind::kFat12;
    const uint32_t entries = s * 512 * 8 / (fat12 ? 12 : 16);
    ASSERT_GE(entries, clusters + 2) << capacity;
    if (fat12) {
      ASSERT_LE(clusters, 4084u) << capacity;
      ASSERT_LE(n, 131072u);
    } else {
      ASSERT_GE(clusters, 4085u) << capacity;
      ASSERT_LE(clusters, 65524u) << capacity;
    }
    const uint32_t rule = RuleSectorsPerFat(n, layout.fat);
    const uint32_t ruleClusters = (n - 17 - 2 * rule) / 32;
    const uint32_t ruleEntries = rule * 512 * 8 / (fat12 ? 12 : 16);
    if (ruleEntries >= ruleClusters + 2) {
      ASSERT_EQ(s, rule) << capacity;
    } else {
      ASSERT_GT(s, rule) << capacity;
    }
  }
  EXPECT_EQ(Plan(largestAccepted).dataClusters, 65524u);
}

// Applying the writes in order leaves every block of the system area with
// its final content, and touches nothing else.
TEST(CardFormatPlan, WritesTheSystemAreaInOrder) {
  for (uint32_t capacity : {52u, 65536u, 125440u, 250880u}) {
    CardLayout layout = Plan(capacity);
    const uint32_t count = CardFormatWriteCount(layout);
    EXPECT_EQ(count, 2 * layout.sectorsPerFat + 20);
    std::map<uint32_t, CardBlockContent> card;
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < count; ++i) {
      CardWrite write = CardFormatWriteAt(layout, i);
      card[write.block] = write.content;
      order.push_back(write.block);
    }
    ASSERT_EQ(card.size(), layout.FirstDataBlock());
    EXPECT_EQ(card.rbegin()->first, layout.FirstDataBlock() - 1);
    for (const auto& [block, content] : card) {
      EXPECT_EQ(content, CardBlockContentAt(layout, block)) << "block " << block;
    }
    EXPECT_EQ(CardBlockContentAt(layout, 2), CardBlockContent::kFatHead);
    EXPECT_EQ(CardBlockContentAt(layout, layout.Fat2Block()), CardBlockContent::kFatHead);
    EXPECT_EQ(CardBlockContentAt(layout, layout.Fat2Block() + 1), CardBlockContent::kZero);
    // Zeros over both FATs first, then the two heads, then the root.
    const uint32_t s = layout.sectorsPerFat;
    EXPECT_EQ(order[2], 2u);
    EXPECT_EQ(order[2 * s + 1], 2 * s + 1);
    EXPECT_EQ(order[2 * s + 2], 2u);
    EXPECT_EQ(order[2 * s + 3], s + 2);
    EXPECT_EQ(order[2 * s + 4], 2 * s + 2);
  }
}

TEST(CardFormatPlan, BlockBuilderMatchesTheNamedBuilders) {
  CardLayout layout = Plan(125440);
  Block viaContent, direct;
  viaContent.fill(0xEE);
  BuildCardBlock(layout, CardBlockContent::kBootSector, viaContent.data());
  BuildCardBootSector(layout, direct.data());
  EXPECT_EQ(viaContent, direct);
  BuildCardBlock(layout, CardBlockContent::kZero, viaContent.data());
  EXPECT_EQ(viaContent, Block{});
}

}  // namespace
}  // namespace orvik::mmc
