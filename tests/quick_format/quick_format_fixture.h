// A simulated player scanned and ready for the quick format, and checks of
// the pages the format leaves on the flash.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "api/library_context.h"
#include "media/block_status.h"
#include "media/cis_page.h"
#include "media/format_layout.h"
#include "protocol/media_state.h"
#include "support/sim_fixture.h"
#include "tests/ecc/bitwise_ecc.h"

namespace orvik::testing {

// The block-address word of a logical block, from its definition: low byte
// 0 0 0 1 0 BA9 BA8 BA7, high byte BA6..BA0 P, even parity over 16 bits.
inline std::pair<uint8_t, uint8_t> AddressField(uint32_t logicalBlock) {
  const uint32_t n = logicalBlock & 0x3FF;
  const auto low = static_cast<uint8_t>(0x10 | ((n >> 7) & 7));
  auto high = static_cast<uint8_t>((n & 0x7F) << 1);
  int ones = 1;  // the fixed bit of the low byte
  for (uint32_t bit = 0; bit < 10; ++bit) ones += (n >> bit) & 1;
  if (ones % 2 != 0) high = static_cast<uint8_t>(high | 1);
  return {low, high};
}

// Restores the drive's media kind (a constant of the build) on every path.
class MediaKindGuard {
 public:
  explicit MediaKindGuard(int32_t kind) { api::Context().SetDriveMediaKind(kind); }
  ~MediaKindGuard() { api::Context().SetDriveMediaKind(protocol::MEDIA_KIND_FLASH); }
  MediaKindGuard(const MediaKindGuard&) = delete;
  MediaKindGuard& operator=(const MediaKindGuard&) = delete;
};

class QuickFormatTest : public SimPlayerTest {
 protected:
  void SetUp() override { Reserve(0); }

  PROGRAM_MEDIA_STATUS Scan(uint32_t type) {
    ORVIK_ULONG types[1] = {type};
    auto files = Files("P");
    return OrvikBuildBlockStatus(types, 0, 0, &files, nullptr);
  }
  PROGRAM_MEDIA_STATUS QuickFormat(uint32_t type, int sizeFromRegistry = 0, void* event = nullptr) {
    ORVIK_ULONG types[1] = {type};
    return OrvikQuickFormatPelk(types, 0, sizeFromRegistry, nullptr, event);
  }
  // Starts the player and scans it; the statistics count from then on.
  void StartScanned(const sim::PlayerConfig& config) {
    StartPlayer(config);
    ASSERT_EQ(Scan(config.flashType), PROGRAM_MEDIA_DONE);
    player_->ResetStats();
  }
  void StartScanned(uint32_t type) {
    sim::PlayerConfig config;
    config.flashType = type;
    StartScanned(config);
  }

  const protocol::DriveMediaState& Drive() const { return *api::Context().DriveState(0); }
  uint8_t Entry(uint32_t block) const { return Drive().blockStatus[block]; }
  uint32_t PagesPerBlock() const { return player_->PagesPerBlock(); }

  static uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  // The partition size in the master boot record of logical block 0.
  uint32_t PartitionSizeAt(uint32_t block) const { return LittleEndian32(&Page(block, 0)[458]); }

  // A written data page: its data, 0xFF status bytes, both address fields
  // and both ECCs (computed bit by bit here).
  void ExpectDataPage(uint32_t block, uint32_t page, const uint8_t* data,
                      std::pair<uint8_t, uint8_t> field) const {
    SCOPED_TRACE("block " + std::to_string(block) + " page " + std::to_string(page));
    const sim::RawPage raw = Page(block, page);
    ASSERT_TRUE(std::equal(data, data + 512, raw.begin()));
    const uint8_t* spare = raw.data() + 512;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(spare[i], 0xFF) << "spare byte " << i;
    EXPECT_EQ(spare[6], field.first);
    EXPECT_EQ(spare[7], field.second);
    EXPECT_EQ(spare[11], field.first);
    EXPECT_EQ(spare[12], field.second);
    uint8_t low[3], high[3];
    BitwiseEcc256(data, low);
    BitwiseEcc256(data + 256, high);
    EXPECT_TRUE(std::equal(low, low + 3, spare + 13)) << "ECC of bytes 0-255";
    EXPECT_TRUE(std::equal(high, high + 3, spare + 8)) << "ECC of bytes 256-511";
  }

  // Every sector of a logical block where the format writes it, the pages
  // past lastFormatSector erased.
  void ExpectLogicalBlockAt(uint32_t type, uint32_t logical, uint32_t block,
                            uint32_t partitionSectors) const {
    SCOPED_TRACE("logical block " + std::to_string(logical));
    const media::FormatLayout& layout = media::kFormatLayouts[type];
    EXPECT_EQ(Entry(block), media::BLOCK_FORMAT_USED);
    for (uint32_t page = 0; page < PagesPerBlock(); ++page) {
      const uint32_t e = logical * PagesPerBlock() + page;
      if (e > layout.lastFormatSector) {
        EXPECT_EQ(Page(block, page), ErasedPage()) << "page " << page;
        continue;
      }
      uint8_t sector[512];
      ASSERT_TRUE(media::BuildFormatSector(type, partitionSectors, e, sector));
      ExpectDataPage(block, page, sector, AddressField(logical));
    }
  }

  void ExpectCisPage(uint32_t block, std::pair<uint8_t, uint8_t> field) const {
    uint8_t cis[512] = {};
    std::copy(media::kCisBlock.begin(), media::kCisBlock.end(), cis);
    std::copy(media::kCisBlock.begin(), media::kCisBlock.end(), cis + 256);
    ASSERT_EQ((std::vector<uint8_t>(cis, cis + 5)),
              (std::vector<uint8_t>{0x01, 0x03, 0xD9, 0x01, 0xFF}));
    ExpectDataPage(block, 0, cis, field);
    for (uint32_t page = 1; page < PagesPerBlock(); ++page)
      EXPECT_EQ(Page(block, page), ErasedPage()) << "CIS block page " << page;
    EXPECT_EQ(Entry(block), media::BLOCK_CIS);
    EXPECT_EQ(Drive().cisBlock, block);
  }

  static sim::RawPage ErasedPage() {
    sim::RawPage page;
    page.fill(0xFF);
    return page;
  }
  // A block invalidated by the format: it reads as bad to every scan.
  void ExpectInvalidated(uint32_t block) const {
    EXPECT_EQ(Entry(block), media::BLOCK_BAD);
    EXPECT_EQ(Page(block, 0)[512 + 5], 0x00) << "block " << block << " does not read as bad";
    EXPECT_EQ(Page(block, 1), sim::RawPage{}) << "block " << block << " not zero-filled";
  }
};

}  // namespace orvik::testing
