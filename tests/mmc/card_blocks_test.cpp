// Card block I/O, erase and the bulk erases, on the wire.
#include "mmc/card_blocks.h"

#include "api/library_context.h"
#include "mmc/mmc_frame.h"
#include "protocol/byte_order.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class RecordingProgress : public protocol::ProgressTarget {
 public:
  void Add(double increment) override {
    ++adds;
    value += increment;
  }
  void AddClamped(double increment) override { Add(increment); }
  void Store(double stored) override {
    ++stores;
    value = stored;
  }
  uint32_t Phase() const override { return 0; }
  void Announce(uint32_t, double) override {}
  int adds = 0;
  int stores = 0;
  double value = 0;
};

class CardBlockTest : public LibraryTest {
 protected:
  void SetUp() override { OpenQuietly(); }

  // The next detect answers with this erase group.
  void QueueDetect(uint8_t eraseGroup) {
    Bytes reply(15, 0);
    reply[12] = eraseGroup;
    device_.QueueReply(reply);
  }

  // Frames of the transfers that are MMC frames of this code.
  std::vector<Bytes> FramesOf(uint8_t code) {
    std::vector<Bytes> frames;
    for (auto& t : device_.Transfers())
      if (t.kind == Recorded::Kind::kWrite && t.data.size() <= 24 && t.data.size() >= 6 &&
          t.data[0] == code && t.data[1] == 2)
        frames.push_back(t.data);
    return frames;
  }
};

TEST_F(CardBlockTest, BlockFramesCarryByteAddressesAndCounts) {
  Bytes data(1024, 0);
  ASSERT_EQ(OrvikMMCReadBlock(0, 3, data.data()), 1);
  ASSERT_EQ(OrvikMMCReadMultipleBlock(0, 3, 2, data.data()), 1);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 4u);
  EXPECT_EQ(transfers[0].data,
            (Bytes{0x06, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(transfers[1].length, 512u);
  EXPECT_EQ(transfers[2].data, (Bytes{0x07, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00,
                                      0x00, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(transfers[3].length, 1024u);

  device_.ClearRecords();
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(OrvikMMCWriteBlock(1, 0x10000, data.data()), 1);
  ASSERT_EQ(OrvikMMCWriteMultipleBlock(1, 5, 2, data.data()), 1);
  transfers = device_.Transfers();
  EXPECT_EQ(transfers[0].data,
            (Bytes{0x08, 0x02, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(transfers[1].data, Bytes(data.begin(), data.begin() + 512));
  EXPECT_EQ(transfers[2].data[0], 0x09);
  EXPECT_EQ(transfers[2].data[12], 0x02);
  EXPECT_EQ(transfers[3].data, data);
}

TEST_F(CardBlockTest, EmptyRunsSendNothingAndNullBuffersFail) {
  Bytes data(512);
  EXPECT_EQ(OrvikMMCReadMultipleBlock(0, 3, 0, data.data()), 1);
  EXPECT_EQ(OrvikMMCWriteMultipleBlock(0, 3, 0, data.data()), 1);
  EXPECT_EQ(OrvikMMCReadMultipleBlock(0, 3, 0, nullptr), 0);
  EXPECT_EQ(OrvikMMCWriteMultipleBlock(0, 3, 0, nullptr), 0);
  EXPECT_EQ(OrvikMMCReadBlock(0, 3, nullptr), 0);
  EXPECT_EQ(OrvikMMCWriteBlock(0, 3, nullptr), 0);
  unsigned char status = 0x77;
  EXPECT_EQ(OrvikMMCErase(0, 10, 0, &status), 1);
  EXPECT_EQ(status, 0x77);
  EXPECT_TRUE(device_.Transfers().empty());
}

TEST_F(CardBlockTest, EraseSendsFirstAndLastByteAddress) {
  unsigned char status = 0x77;
  ASSERT_EQ(OrvikMMCErase(0, 10, 32, &status), 1);
  EXPECT_EQ(status, 0);
  auto transfers = device_.Transfers();
  EXPECT_EQ(transfers[0].data, (Bytes{0x0A, 0x02, 0x40, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0x52, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(transfers[1].length, 64u);
  device_.QueueReply({0x04, 0, 0});
  EXPECT_EQ(OrvikMMCErase(0, 10, 32, &status), 0);
  EXPECT_EQ(status, 0x04);
}

TEST_F(CardBlockTest, RunsBeyondFourGibibytesAreRefusedUnsent) {
  Bytes data(1024);
  unsigned char status = 0x77;
  EXPECT_EQ(OrvikMMCReadBlock(0, 8388608, data.data()), 0);
  EXPECT_EQ(OrvikMMCWriteBlock(0, 8388608, data.data()), 0);
  EXPECT_EQ(OrvikMMCWriteMultipleBlock(0, 8388607, 2, data.data()), 0);
  EXPECT_EQ(OrvikMMCReadMultipleBlock(0, 0xFFFFFFFFu, 1, data.data()), 0);
  EXPECT_EQ(OrvikMMCErase(0, 8388600, 9, &status), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(OrvikMMCErase(0, 0xFFFFFFFFu, 2, &status), 0);
  EXPECT_TRUE(device_.Transfers().empty());
  EXPECT_EQ(OrvikMMCWriteMultipleBlock(0, 8388606, 2, data.data()), 1);  // the last two fit
  EXPECT_EQ(OrvikMMCErase(0, 8388607, 1, &status), 1);
}

TEST_F(CardBlockTest, FileSystemAreaGrowsWithTheCard) {
  EXPECT_EQ(mmc::FileSystemAreaBlocks(2047), 48u);  // under 1 MiB
  EXPECT_EQ(mmc::FileSystemAreaBlocks(2048), 32u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(4096), 48u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(8192 + 2047), 48u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(10240), 64u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(65536), 64u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(65536 + 2048), 96u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(131072), 96u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(131072 + 2048), 128u);
  // A 4 GiB card would wrap to a size of 0 MiB in 32 bits.
  EXPECT_EQ(mmc::FileSystemAreaBlocks(8388608), 128u);
  EXPECT_EQ(mmc::FileSystemAreaBlocks(8388608 + 4096), 128u);
}

TEST_F(CardBlockTest, ThirtyTwoMebibyteCardNeedsTwoGroupErases) {
  QueueDetect(32);
  double progress = 0;
  ASSERT_EQ(OrvikMMCEraseFileSystemSectors(0, 65536, &progress), 1);
  auto erases = FramesOf(0x0A);
  ASSERT_EQ(erases.size(), 2u);
  EXPECT_EQ(protocol::GetLittleEndian32(&erases[0][6]), 0u);
  EXPECT_EQ(protocol::GetLittleEndian32(&erases[0][12]), 31u * 512);
  EXPECT_EQ(protocol::GetLittleEndian32(&erases[1][6]), 32u * 512);
  EXPECT_EQ(protocol::GetLittleEndian32(&erases[1][12]), 63u * 512);
  EXPECT_TRUE(FramesOf(0x08).empty());
  EXPECT_EQ(progress, 100.0);

  RecordingProgress recorded;
  QueueDetect(32);
  ASSERT_TRUE(mmc::EraseFileSystemArea(0, 65536, recorded));
  EXPECT_EQ(recorded.adds, 2);
  EXPECT_EQ(recorded.value, 100.0);
}

TEST_F(CardBlockTest, GroupsThatDoNotFillTheAreaEndInZeroWrites) {
  QueueDetect(48);
  double progress = 0;
  ASSERT_EQ(OrvikMMCEraseFileSystemSectors(0, 32768, &progress), 1);
  ASSERT_EQ(FramesOf(0x0A).size(), 1u);
  auto writes = FramesOf(0x08);
  ASSERT_EQ(writes.size(), 16u);
  EXPECT_EQ(protocol::GetLittleEndian32(&writes.front()[6]), 48u * 512);
  EXPECT_EQ(protocol::GetLittleEndian32(&writes.back()[6]), 63u * 512);
  for (auto& t : device_.Transfers()) {
    if (t.kind == Recorded::Kind::kWrite && t.data.size() == 512) {
      EXPECT_EQ(t.data, Bytes(512, 0));
    }
  }
}

TEST_F(CardBlockTest, EraseGroupOfZeroWritesEveryBlock) {
  QueueDetect(0);
  double progress = 0;
  ASSERT_EQ(OrvikMMCEraseFileSystemSectors(0, 2048, &progress), 1);  // 1 MiB: 32 blocks
  EXPECT_TRUE(FramesOf(0x0A).empty());
  EXPECT_EQ(FramesOf(0x08).size(), 32u);
  QueueDetect(0);
  device_.ClearRecords();
  ASSERT_EQ(OrvikMMCEraseFileSystemSectors(0, 2047, &progress), 1);
  EXPECT_EQ(FramesOf(0x08).size(), 48u);
}

TEST_F(CardBlockTest, FailedDetectErasesWithTheDefaultGroup) {
  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueReadAnswer(failed);
  double progress = 0;
  ASSERT_EQ(OrvikMMCEraseFileSystemSectors(0, 65536, &progress), 1);
  EXPECT_EQ(FramesOf(0x0A).size(), 2u);
}

TEST_F(CardBlockTest, WholeCardEraseStepsOncePerHundredthOfTheGroups) {
  QueueDetect(32);
  RecordingProgress recorded;
  ASSERT_TRUE(mmc::EraseLeadingBlocks(0, 125440, recorded));
  EXPECT_EQ(FramesOf(0x0A).size(), 3920u);
  EXPECT_TRUE(FramesOf(0x08).empty());
  // Groups 3,919 down to 0 in steps of 39: every (3919 - i) % 39 == 0.
  EXPECT_EQ(recorded.adds, 101);
  EXPECT_EQ(recorded.value, 100.0);
  QueueDetect(32);
  double progress = 0;
  EXPECT_EQ(OrvikMMCEraseAllBlocks(0, 125440, &progress), 1);
  EXPECT_EQ(progress, 100.0);
}

TEST_F(CardBlockTest, FailedEraseStopsAtOnceAndStillEndsTheProgress) {
  QueueDetect(16);
  device_.QueueReply({0, 0, 0});
  device_.QueueReply({0x01, 0, 0});  // the second group fails at the card
  double progress = 0;
  EXPECT_EQ(OrvikMMCEraseFileSystemSectors(0, 65536 + 2048 * 40, &progress), 0);
  EXPECT_EQ(FramesOf(0x0A).size(), 2u);
  EXPECT_TRUE(FramesOf(0x08).empty());
  EXPECT_EQ(progress, 100.0);
  EXPECT_EQ(OrvikMMCEraseAllBlocks(0, 100, nullptr), 0);
}

}  // namespace
}  // namespace orvik::testing
