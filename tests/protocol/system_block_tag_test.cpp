// The reader of a system block's marks, which the version query and the
// host tool share: what each kind of block's first two pages read as.
#include "protocol/system_block_tag.h"

#include <gtest/gtest.h>

#include <array>

#include "host/host_internals.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"

namespace orvik::testing {
namespace {

using namespace protocol;

// Pages 0 and 1 of a block, raw; erased unless a case writes them.
using TwoPages = std::array<uint8_t, 2 * kPageSize>;

uint8_t* Spare(TwoPages& pages, uint32_t page) { return &pages[page * kPageSize + kDataSize]; }

// Page 0's status bytes and block-address field, page 1's block-address field.
struct MarksCase {
  const char* block;
  uint8_t dataStatus, blockStatus;
  uint8_t first[2];
  uint8_t second[2];
  SystemBlockMarks want;
};

class SystemBlockTagTest : public ::testing::TestWithParam<MarksCase> {};

TEST_P(SystemBlockTagTest, ReadsWhatTheMarksSay) {
  const MarksCase& c = GetParam();
  TwoPages pages;
  pages.fill(0xFF);
  Spare(pages, 0)[kSpareDataStatus] = c.dataStatus;
  Spare(pages, 0)[kSpareBlockStatus] = c.blockStatus;
  Spare(pages, 0)[kSpareAddress1] = c.first[0];
  Spare(pages, 0)[kSpareAddress1 + 1] = c.first[1];
  Spare(pages, 1)[kSpareAddress1] = c.second[0];
  Spare(pages, 1)[kSpareAddress1 + 1] = c.second[1];

  const SystemBlockMarks read = ReadSystemBlockMarks(pages.data(), kPageSize, kDataSize);
  EXPECT_EQ(read.systemStatus, c.want.systemStatus);
  EXPECT_EQ(read.systemMark, c.want.systemMark);
  EXPECT_EQ(read.fileMark, c.want.fileMark);
  if (c.want.fileMark) {
    EXPECT_EQ(read.tag, c.want.tag);
  }

  // The host's reader says the same of the same bytes.
  const host::SystemBlockTag tag = host::ReadSystemBlockTag(pages);
  EXPECT_EQ(tag.systemStatus, read.systemStatus);
  EXPECT_EQ(tag.Marked(), read.systemMark && read.fileMark);
  EXPECT_EQ(tag.tag, read.tag);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, SystemBlockTagTest,
    ::testing::Values(
        MarksCase{"file", 0x00, 0x00, {'Q', 'V'}, {'M', 'D'}, {true, true, true, 'D'}},
        MarksCase{"unlisted", 0x00, 0x00, {'Q', 'V'}, {'M', 0xFF}, {true, true, true, 0xFF}},
        MarksCase{"no_file_mark", 0x00, 0x00, {'Q', 'V'}, {0xFF, 0xFF}, {true, true, false, 0}},
        MarksCase{"marks_swapped", 0x00, 0x00, {'V', 'Q'}, {'M', 'P'}, {true, false, true, 'P'}},
        MarksCase{
            "block_status_only", 0xFF, 0x00, {'Q', 'V'}, {'M', 'P'}, {false, true, true, 'P'}},
        MarksCase{"volume", 0xFF, 0xFF, {0x10, 0x02}, {0x10, 0x02}, {false, false, false, 0}},
        MarksCase{"erased", 0xFF, 0xFF, {0xFF, 0xFF}, {0xFF, 0xFF}, {false, false, false, 0}}),
    [](const ::testing::TestParamInfo<MarksCase>& param) { return param.param.block; });

TEST(HostSystemBlockTag, PagesShorterThanTwoReadAsUnmarked) {
  TwoPages pages;
  pages.fill(0x00);
  const host::SystemBlockTag tag =
      host::ReadSystemBlockTag(std::span<const uint8_t>(pages).first(2 * kPageSize - 1));
  EXPECT_FALSE(tag.systemStatus || tag.systemMark || tag.fileMark);
}

}  // namespace
}  // namespace orvik::testing
