// The flash page and block commands, frame by frame and byte by byte.
#include "protocol/flash_commands.h"

#include <cstring>

#include "api/library_context.h"
#include "media/system_area.h"
#include "protocol/ecc.h"
#include "support/drive_fixture.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

using namespace protocol;

// What an export would hand the flash commands for drive n.
FlashDrive Drive(uint8_t n) { return api::Context().FlashDriveFor(n); }

uint32_t WordAt(const std::vector<uint8_t>& frame, size_t word) {
  return frame[3 * word] | frame[3 * word + 1] << 8 | frame[3 * word + 2] << 16;
}

class FlashCommandTest : public LibraryTest {
 protected:
  void SetUp() override {
    OpenQuietly();
    api::Context().SetDccVersion(0x101);
  }
  ~FlashCommandTest() override { api::Context().SetDccVersion(0); }
};

TEST_F(FlashCommandTest, ReadingOnePageAsksForNinePacketsAndCopiesTheData) {
  ScopedDriveBuffers drive(5);
  std::vector<uint8_t> raw(576, 0);
  for (int i = 0; i < 528; ++i) raw[i] = static_cast<uint8_t>(i * 7);
  device_.QueueReply(raw);
  std::vector<uint8_t> data(512, 0);
  uint32_t address = (3 * 32 + 2) * 512;
  ASSERT_TRUE(FlashReadPages(data.data(), 1, address, 528, 512, Drive(0)));
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  const auto& frame = transfers[0].data;
  ASSERT_EQ(frame.size(), 21u);
  EXPECT_EQ(WordAt(frame, 0), 0x800103u);
  EXPECT_EQ(frame[3] | frame[4] << 8 | frame[5] << 16 | frame[6] << 24, address);
  EXPECT_EQ(frame[7], 0);
  EXPECT_EQ(frame[8], 0);
  EXPECT_EQ(WordAt(frame, 3), 528u);
  EXPECT_EQ(WordAt(frame, 4), 1u);
  EXPECT_EQ(WordAt(frame, 5), 9u);
  EXPECT_EQ(WordAt(frame, 6), 0u);
  EXPECT_EQ(transfers[1].length, 576u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), raw.begin()));
}

TEST_F(FlashCommandTest, WritingThreePagesSendsExactlyTheirBytes) {
  ScopedDriveBuffers drive(5);
  std::vector<uint8_t> source(3 * 512);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i);
  PageMarking marking;
  marking.logicalBlock = 7;
  ASSERT_TRUE(FlashWritePages(source.data(), 3, 0x4000, 528, 512, marking, Drive(0)));
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(WordAt(transfers[0].data, 0), 0x400101u);
  EXPECT_EQ(WordAt(transfers[0].data, 3), 528u);
  EXPECT_EQ(WordAt(transfers[0].data, 4), 3u);
  EXPECT_EQ(WordAt(transfers[0].data, 5), 25u);
  ASSERT_EQ(transfers[1].data.size(), 1584u);
  for (int page = 0; page < 3; ++page) {
    const uint8_t* raw = &transfers[1].data[page * 528];
    EXPECT_EQ(std::memcmp(raw, &source[page * 512], 512), 0);
    uint16_t field = EncodeBlockAddress(7);
    EXPECT_EQ(raw[512 + 6] | raw[512 + 7] << 8, field);
    EXPECT_EQ(raw[512 + 11] | raw[512 + 12] << 8, field);
    uint8_t ecc[3];
    ComputeEcc256(&source[page * 512], ecc);
    EXPECT_EQ(std::memcmp(&raw[512 + 13], ecc, 3), 0);
    ComputeEcc256(&source[page * 512 + 256], ecc);
    EXPECT_EQ(std::memcmp(&raw[512 + 8], ecc, 3), 0);
    for (int b = 0; b < 6; ++b) EXPECT_EQ(raw[512 + b], 0xFF);
  }
}

TEST_F(FlashCommandTest, PageWithoutLogicalBlockAndErasedDataHaveNeutralFields) {
  ScopedDriveBuffers drive(7);
  std::vector<uint8_t> page(512, 0xFF);
  ASSERT_TRUE(FlashWritePage(page.data(), 512, 528, 512, kNoLogicalBlock, Drive(0)));
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  ASSERT_EQ(transfers[0].data.size(), 15u);
  EXPECT_EQ(WordAt(transfers[0].data, 0), 0x400100u);
  EXPECT_EQ(WordAt(transfers[0].data, 3), 528u);
  const auto& raw = transfers[1].data;
  ASSERT_EQ(raw.size(), 528u);
  const uint8_t expected[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(&raw[512], expected, 16), 0);
}

TEST_F(FlashCommandTest, SmallPageFlashTakesTwoHalfPages) {
  ScopedDriveBuffers drive(1);
  std::vector<uint8_t> page(512);
  for (int i = 0; i < 512; ++i) page[i] = static_cast<uint8_t>(i * 3 + 1);
  uint32_t address = 5 * 8 * 512;
  ASSERT_TRUE(FlashWritePage(page.data(), address, 528, 512, kNoLogicalBlock, Drive(0)));
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 4u);
  EXPECT_EQ(WordAt(transfers[0].data, 1), address);
  EXPECT_EQ(WordAt(transfers[0].data, 3), 264u);
  EXPECT_EQ(WordAt(transfers[2].data, 1), address + 256);
  EXPECT_EQ(WordAt(transfers[2].data, 3), 264u);
  const auto& first = transfers[1].data;
  const auto& second = transfers[3].data;
  ASSERT_EQ(first.size(), 264u);
  ASSERT_EQ(second.size(), 264u);
  EXPECT_EQ(std::memcmp(first.data(), page.data(), 256), 0);
  EXPECT_EQ(std::memcmp(second.data(), page.data() + 256, 256), 0);
  for (int b = 0; b < 6; ++b) EXPECT_EQ(first[256 + b], 0xFF);
  EXPECT_EQ(first[262], 0x17);  // the address field of 0xFFFF on these types
  EXPECT_EQ(first[263], 0xFF);
  uint8_t ecc[3];
  ComputeEcc256(page.data() + 256, ecc);
  EXPECT_EQ(std::memcmp(&second[256], ecc, 3), 0);
  EXPECT_EQ(second[259], 0x17);
  EXPECT_EQ(second[260], 0xFF);
  ComputeEcc256(page.data(), ecc);
  EXPECT_EQ(std::memcmp(&second[261], ecc, 3), 0);
}

TEST_F(FlashCommandTest, SystemPagesCarryTheMarksAndZeroPagesAnAllZeroSpare) {
  ScopedDriveBuffers drive(5);
  _BinaryFilesInformation files{};
  files.fileCount = 2;
  files.fileTags[0] = 'P';
  files.fileTags[1] = 'R';
  std::vector<uint8_t> source(4 * 512, 0x3C);
  // The marking the system-area writers build for file 'R'.
  PageMarking marking = media::SystemMarking(files, 'R' + 4);
  ASSERT_TRUE(FlashWritePages(source.data(), 4, 0, 528, 512, marking, Drive(0)));
  auto raw = device_.Transfers()[1].data;
  auto spare = [&](int page) {
    return std::vector<uint8_t>(&raw[page * 528 + 512], &raw[page * 528 + 528]);
  };
  EXPECT_EQ(spare(0), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 'Q', 'V', 0xFF, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(spare(1)[6], 'M');
  EXPECT_EQ(spare(1)[7], 'R');
  EXPECT_EQ(spare(2)[6], 0xFF);
  EXPECT_EQ(spare(3)[7], 0xFF);
  EXPECT_EQ(spare(3)[4], 0x00);
  EXPECT_EQ(raw[3 * 528], 0x3C);  // the data is not touched

  device_.ClearRecords();
  marking = media::SystemMarking(files, 'X' + 4);  // a tag that is not among the files
  ASSERT_TRUE(FlashWritePages(source.data(), 2, 0, 528, 512, marking, Drive(0)));
  EXPECT_EQ(device_.Transfers()[1].data[528 + 512 + 7], 0xFF);

  device_.ClearRecords();
  PageMarking zeros;
  zeros.zeroSpare = true;
  ASSERT_TRUE(FlashWritePages(source.data(), 2, 0, 528, 512, zeros, Drive(0)));
  raw = device_.Transfers()[1].data;
  EXPECT_EQ(spare(0), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(spare(1), std::vector<uint8_t>(16, 0));
}

TEST_F(FlashCommandTest, TagPageWritesOnlyItsWordOnLargePageFlash) {
  ScopedDriveBuffers drive(5);
  ASSERT_TRUE(FlashWriteTagPage(0x800, 528, 512, 0x0A0B, Drive(0)));
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  const auto& raw = transfers[1].data;
  EXPECT_EQ(std::count(raw.begin(), raw.begin() + 512, 0xFF), 512);
  EXPECT_EQ(raw[516], 0x00);
  EXPECT_EQ(raw[517], 0x00);
  EXPECT_EQ(raw[518], 0x0B);
  EXPECT_EQ(raw[519], 0x0A);
  EXPECT_EQ(raw[520], 0xFF);
}

TEST_F(FlashCommandTest, TagPageSendsNothingOnSmallPageFlash) {
  ScopedDriveBuffers drive(1);
  EXPECT_TRUE(FlashWriteTagPage(0x800, 528, 512, 0x0A0B, Drive(0)));
  EXPECT_TRUE(device_.Transfers().empty());
}

TEST_F(FlashCommandTest, EraseReportsTheDeviceStatusAndSucceedsWhateverItSays) {
  device_.QueueReply({0x05, 0x00, 0x00, 0xC1, 0, 0});
  uint32_t status = 0;
  uint8_t statusByte = 0;
  EXPECT_TRUE(FlashEraseBlock(9 * 16384, 32, Drive(0), &status, &statusByte));
  EXPECT_EQ(status, 5u);
  EXPECT_EQ(statusByte, 0xC1);
  auto transfers = device_.Transfers();
  EXPECT_EQ(transfers[0].data.size(), 15u);
  EXPECT_EQ(WordAt(transfers[0].data, 3), 32u);
  EXPECT_EQ(transfers[1].length, 64u);

  device_.ClearRecords();
  api::Context().SetDccVersion(0x100);
  FlashEraseBlock(0, 32, Drive(0), &status, nullptr);
  EXPECT_EQ(WordAt(device_.Transfers()[0].data, 0), 0x000104u);
  api::Context().SetDccVersion(0x200);
  FlashEraseBlock(0, 32, Drive(0), &status, nullptr);
  EXPECT_EQ(WordAt(device_.Transfers()[2].data, 0), 0x400104u);
}

TEST_F(FlashCommandTest, BlockMarksOfAGroupComeInOneRequest) {
  std::vector<uint8_t> marks(BlockMarksReplyLength(256));
  EXPECT_EQ(marks.size(), 1536u);
  ASSERT_TRUE(FlashReadBlockMarks(marks.data(), 256, 256 * 16384, 528, 32, 512, Drive(0)));
  auto transfers = device_.Transfers();
  const auto& frame = transfers[0].data;
  ASSERT_EQ(frame.size(), 24u);
  EXPECT_EQ(WordAt(frame, 0), 0x80010Cu);
  EXPECT_EQ(WordAt(frame, 1) | WordAt(frame, 2) << 24, 256u * 16384);
  EXPECT_EQ(WordAt(frame, 3), 528u);
  EXPECT_EQ(WordAt(frame, 4), 256u);
  EXPECT_EQ(WordAt(frame, 5), 16384u);
  EXPECT_EQ(WordAt(frame, 6), 24u);
  EXPECT_EQ(WordAt(frame, 7), 0u);
  EXPECT_EQ(transfers[1].length, 1536u);
}

TEST_F(FlashCommandTest, PageTransfersNeedThePageBufferAndFitIt) {
  std::vector<uint8_t> data(64 * 512, 0);
  PageMarking marking;
  // No scan yet: nothing is sent.
  EXPECT_FALSE(FlashReadPages(data.data(), 1, 0, 528, 512, Drive(0)));
  EXPECT_FALSE(FlashWritePage(data.data(), 0, 528, 512, 0, Drive(0)));
  EXPECT_FALSE(FlashWritePages(data.data(), 1, 0, 528, 512, marking, Drive(0)));
  EXPECT_FALSE(FlashWriteTagPage(0, 528, 512, 1, Drive(0)));
  {
    ScopedDriveBuffers drive(3);  // 16 pages per block
    EXPECT_FALSE(FlashReadPages(data.data(), 17, 0, 528, 512, Drive(0)));
    EXPECT_FALSE(FlashWritePages(data.data(), 17, 0, 528, 512, marking, Drive(0)));
    EXPECT_FALSE(FlashReadPages(data.data(), 1, 0, 528, 512, Drive(1)));  // drive 1 has no buffer
    EXPECT_TRUE(device_.Transfers().empty());
    EXPECT_TRUE(FlashReadPages(data.data(), 16, 0, 528, 512, Drive(0)));
  }
  device_.ClearRecords();
  EXPECT_FALSE(FlashReadPages(data.data(), 1, 0, 528, 512, Drive(0)));  // released again
  EXPECT_TRUE(device_.Transfers().empty());
}

}  // namespace
}  // namespace orvik::testing
