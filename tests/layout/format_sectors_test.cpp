// The sectors the quick format writes: master boot record, boot sector, FAT
// start, and the card information page.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "media/cis_page.h"
#include "media/format_layout.h"

namespace orvik::media {
namespace {

using Sector = std::array<uint8_t, 512>;

Sector Filled(uint8_t value) {
  Sector s;
  s.fill(value);
  return s;
}

// A sector that is zero except for the given runs of bytes.
Sector Expected(std::initializer_list<std::pair<size_t, std::vector<uint8_t>>> runs) {
  Sector s{};
  for (const auto& [offset, bytes] : runs) {
    for (size_t i = 0; i < bytes.size(); ++i) s[offset + i] = bytes[i];
  }
  return s;
}

const std::vector<uint8_t> kSpaces8(8, 0x20);
const std::vector<uint8_t> kSignature{0x55, 0xAA};

TEST(FormatSectors, Type0) {
  Sector mbr = Filled(0xEE), boot = Filled(0xEE), fat = Filled(0xEE);
  ASSERT_TRUE(BuildMasterBootRecord(0, 1987, mbr.data()));
  ASSERT_TRUE(BuildBootSector(0, 1987, boot.data()));
  ASSERT_TRUE(BuildFatStart(0, fat.data()));
  EXPECT_EQ(mbr, Expected({{446,
                            {0x80, 0x03, 0x02, 0x00, 0x01, 0x03, 0x04, 0x7C, 0x0D, 0x00, 0x00, 0x00,
                             0xC3, 0x07, 0x00, 0x00}},
                           {510, kSignature}}));
  EXPECT_EQ(boot, Expected({{0, {0xE9, 0x00, 0x00}},
                            {3, kSpaces8},
                            {11, {0x00, 0x02, 0x08, 0x01, 0x00, 0x02, 0x00, 0x01, 0xC3, 0x07, 0xF8,
                                  0x01, 0x00, 0x04, 0x00, 0x04, 0x00, 0x0D, 0x00, 0x00, 0x00}},
                            {54, {'F', 'A', 'T', '1', '2', ' ', ' ', ' '}},
                            {510, kSignature}}));
  EXPECT_EQ(fat, Expected({{0, {0xF8, 0xFF, 0xFF, 0x00}}}));
}

TEST(FormatSectors, Type5WithA64BlockReservationHoldsTheSizeIn16Bits) {
  Sector boot, mbr;
  ASSERT_TRUE(BuildBootSector(5, 61917, boot.data()));
  ASSERT_TRUE(BuildMasterBootRecord(5, 61917, mbr.data()));
  EXPECT_EQ(boot[19] | boot[20] << 8, 61917);
  EXPECT_EQ(boot[32] | boot[33] | boot[34] | boot[35], 0);
  EXPECT_EQ(boot[13], 32);  // sectors per cluster
  EXPECT_EQ(boot[22], 6);   // sectors per FAT
  EXPECT_EQ(boot[28], 35);  // hidden sectors
  // The CHS bytes are the table's whatever the size.
  EXPECT_EQ(std::vector<uint8_t>(mbr.begin() + 446, mbr.begin() + 462),
            (std::vector<uint8_t>{0x80, 0x02, 0x04, 0x00, 0x01, 0x07, 0x50, 0xF3, 0x23, 0x00, 0x00,
                                  0x00, 0xDD, 0xF1, 0x00, 0x00}));
}

TEST(FormatSectors, Type6HoldsTheSizeIn32Bits) {
  Sector boot;
  ASSERT_TRUE(BuildBootSector(6, 95939, boot.data()));
  EXPECT_EQ(boot[19] | boot[20], 0);
  EXPECT_EQ(std::vector<uint8_t>(boot.begin() + 32, boot.begin() + 36),
            (std::vector<uint8_t>{0xC3, 0x76, 0x01, 0x00}));
  EXPECT_EQ(std::string(boot.begin() + 54, boot.begin() + 62), "FAT12   ");
}

TEST(FormatSectors, Type8IsTheFirstFat16) {
  Sector mbr, boot, fat;
  ASSERT_TRUE(BuildMasterBootRecord(8, 159961, mbr.data()));
  ASSERT_TRUE(BuildBootSector(8, 159961, boot.data()));
  ASSERT_TRUE(BuildFatStart(8, fat.data()));
  EXPECT_EQ(mbr[450], 0x06);
  EXPECT_EQ(
      boot,
      Expected({{0, {0xE9, 0x00, 0x00}},
                {3, kSpaces8},
                {11, {0x00, 0x02, 0x20, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0xF8, 0x14, 0x00,
                      0x20, 0x00, 0x08, 0x00, 0x27, 0x00, 0x00, 0x00, 0xD9, 0x70, 0x02, 0x00}},
                {54, {'F', 'A', 'T', '1', '6', ' ', ' ', ' '}},
                {510, kSignature}}));
  EXPECT_EQ(fat, Expected({{0, {0xF8, 0xFF, 0xFF, 0xFF}}}));
}

TEST(FormatSectors, Type14SizeFollowsTheSizingRule) {
  // From the registry (no reservation) 351687 = 0x55DC7; from 4 system
  // blocks 351815 = 0x55E47.  Only the size fields change.
  Sector mbrRegistry, mbrScan, bootRegistry, bootScan;
  ASSERT_TRUE(BuildMasterBootRecord(14, 351687, mbrRegistry.data()));
  ASSERT_TRUE(BuildMasterBootRecord(14, 351815, mbrScan.data()));
  ASSERT_TRUE(BuildBootSector(14, 351687, bootRegistry.data()));
  ASSERT_TRUE(BuildBootSector(14, 351815, bootScan.data()));
  EXPECT_EQ(std::vector<uint8_t>(mbrRegistry.begin() + 446, mbrRegistry.begin() + 462),
            (std::vector<uint8_t>{0x80, 0x01, 0x1A, 0x00, 0x06, 0x0F, 0xA0, 0xAE, 0x39, 0x00, 0x00,
                                  0x00, 0xC7, 0x5D, 0x05, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(bootScan.begin() + 32, bootScan.begin() + 36),
            (std::vector<uint8_t>{0x47, 0x5E, 0x05, 0x00}));
  for (size_t i = 0; i < 512; ++i) {
    bool sizeByte = (i >= 458 && i < 462);
    if (!sizeByte) {
      EXPECT_EQ(mbrRegistry[i], mbrScan[i]) << "MBR byte " << i;
    }
    bool bootSizeByte = (i >= 32 && i < 36);
    if (!bootSizeByte) {
      EXPECT_EQ(bootRegistry[i], bootScan[i]) << "boot byte " << i;
    }
  }
}

TEST(FormatSectors, SizesBeyond16BitsAreNeverTruncated) {
  Sector boot;
  ASSERT_TRUE(BuildBootSector(5, 70000, boot.data()));
  EXPECT_EQ(boot[19] | boot[20], 0);
  EXPECT_EQ(boot[32] | boot[33] << 8 | boot[34] << 16, 70000);
}

TEST(FormatSectors, UnknownTypeLeavesTheSectorAlone) {
  Sector s = Filled(0xEE);
  EXPECT_FALSE(BuildMasterBootRecord(36, 1000, s.data()));
  EXPECT_FALSE(BuildBootSector(36, 1000, s.data()));
  EXPECT_FALSE(BuildFatStart(36, s.data()));
  EXPECT_FALSE(BuildFormatSector(36, 1000, 0, s.data()));
  EXPECT_EQ(s, Filled(0xEE));
}

TEST(FormatSectors, WhatEachWrittenSectorHolds) {
  const FormatLayout& type0 = kFormatLayouts[0];
  std::vector<FormatSectorKind> kinds;
  for (uint32_t e = 0; e <= type0.lastFormatSector; ++e)
    kinds.push_back(FormatSectorKindAt(type0, e));
  std::vector<FormatSectorKind> expected(32, FormatSectorKind::kZero);
  expected[0] = FormatSectorKind::kMasterBootRecord;
  expected[13] = FormatSectorKind::kBootSector;
  expected[14] = expected[15] = FormatSectorKind::kFatStart;
  EXPECT_EQ(kinds, expected);

  // Type 23 writes sectors 0 to 256: both FATs (50 and 129), the root
  // (208 to 223) and the first cluster.
  const FormatLayout& type23 = kFormatLayouts[23];
  EXPECT_EQ(type23.lastFormatSector, 256u);
  EXPECT_EQ(FormatSectorKindAt(type23, 129), FormatSectorKind::kFatStart);
  EXPECT_EQ(FormatSectorKindAt(type23, 130), FormatSectorKind::kZero);
  EXPECT_EQ(type23.RootDirectorySector(), 208u);

  Sector built = Filled(0xEE), direct = Filled(0x11);
  ASSERT_TRUE(BuildFormatSector(23, 639951, 49, built.data()));
  ASSERT_TRUE(BuildBootSector(23, 639951, direct.data()));
  EXPECT_EQ(built, direct);
  ASSERT_TRUE(BuildFormatSector(23, 639951, 215, built.data()));
  EXPECT_EQ(built, Sector{});
}

TEST(CisPage, TheBlockTwiceAndZerosElsewhere) {
  Sector page = Filled(0xEE);
  BuildCisPage(page.data());
  for (size_t i = 0; i < 512; ++i) {
    size_t inBlock = i % 256;
    uint8_t expected = inBlock < kCisBlockBytes ? kCisBlock[inBlock] : 0;
    ASSERT_EQ(page[i], expected) << "byte " << i;
  }
  EXPECT_EQ(std::vector<uint8_t>(page.begin(), page.begin() + 5),
            (std::vector<uint8_t>{0x01, 0x03, 0xD9, 0x01, 0xFF}));
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + 104, page.begin() + 112),
            (std::vector<uint8_t>{0x30, 0x00, 0xFF, 0x14, 0x00, 0xFF, 0x00, 0x00}));
}

// The structure is a chain of tuples (code, length, body), the last a 14
// (no link) tuple, then the FF end mark at byte 109; a wrong length byte breaks the chain.
TEST(CisPage, TuplesChainToTheEndMark) {
  std::vector<uint8_t> codes;
  size_t offset = 0;
  while (offset < kCisBlockBytes && kCisBlock[offset] != 0xFF) {
    codes.push_back(kCisBlock[offset]);
    offset += 2 + kCisBlock[offset + 1];
  }
  EXPECT_EQ(offset, 109u);
  EXPECT_EQ(codes, (std::vector<uint8_t>{0x01, 0x18, 0x20, 0x21, 0x22, 0x22, 0x1A, 0x1B, 0x1B, 0x1B,
                                         0x1B, 0x15, 0x14}));
}

}  // namespace
}  // namespace orvik::media
