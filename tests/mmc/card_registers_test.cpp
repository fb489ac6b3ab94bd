// The card register exports on the wire.
#include <chrono>
#include <cstring>

#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

class CardRegisterTest : public LibraryTest {
 protected:
  void SetUp() override { OpenQuietly(); }
  ScriptedAnswer Failure() {
    ScriptedAnswer failed;
    failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
    return failed;
  }
};

TEST_F(CardRegisterTest, FramesCarryCodeClassDirectionAndDrive) {
  _MMC_CSD csd{};
  OrvikMMCReadCSD(1, &csd, nullptr);
  EXPECT_EQ(device_.Transfers()[0].data,
            (std::vector<uint8_t>{0x04, 0x02, 0x80, 0x01, 0x00, 0x00}));
  device_.ClearRecords();
  OrvikMMCReadStatus(3, nullptr);
  _MMC_CID cid{};
  OrvikMMCReadCID(0, &cid, nullptr);
  ORVIK_ULONG ocr = 0;
  OrvikMMCReadOCR(2, &ocr, nullptr);
  OrvikMMCDetectMedia(0, nullptr, nullptr, nullptr, nullptr);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 8u);
  EXPECT_EQ(transfers[0].data, (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x03, 0x00, 0x00}));
  EXPECT_EQ(transfers[2].data, (std::vector<uint8_t>{0x02, 0x02, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(transfers[4].data, (std::vector<uint8_t>{0x03, 0x02, 0x80, 0x02, 0x00, 0x00}));
  EXPECT_EQ(transfers[6].data, (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00, 0x00, 0x00}));
  for (size_t i = 1; i < transfers.size(); i += 2) EXPECT_EQ(transfers[i].length, 64u);
}

TEST_F(CardRegisterTest, DetectReadsCapacityAttributeAndEraseGroup) {
  device_.QueueReply(
      {0x00, 0x00, 0x00, 0x00, 0xEA, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x20, 0x00, 0x00});
  ORVIK_ULONG capacity = 0;
  unsigned char status = 9, attribute = 0, group = 0;
  EXPECT_EQ(OrvikMMCDetectMedia(0, &capacity, &status, &attribute, &group), 1);
  EXPECT_EQ(capacity, 125440u);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(attribute, 5);
  EXPECT_EQ(group, 32);
  // Every out-pointer may be null; the exchange still happens.
  device_.QueueReply(std::vector<uint8_t>(15, 0));
  EXPECT_EQ(OrvikMMCDetectMedia(0, nullptr, nullptr, nullptr, nullptr), 1);
}

TEST_F(CardRegisterTest, FailedDetectWritesTheFailureValues) {
  std::vector<uint8_t> reply(15, 0);
  reply[0] = 0x07;
  reply[3] = 0x44;
  reply[12] = 0x10;
  device_.QueueReply(reply);
  ORVIK_ULONG capacity = 1;
  unsigned char status = 0, attribute = 1, group = 1;
  EXPECT_EQ(OrvikMMCDetectMedia(0, &capacity, &status, &attribute, &group), 0);
  EXPECT_EQ(status, 0x07);  // the card's own failure is told apart
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(attribute, 0);
  EXPECT_EQ(group, 32);

  device_.QueueReadAnswer(Failure());
  status = 5;
  EXPECT_EQ(OrvikMMCDetectMedia(0, &capacity, &status, &attribute, &group), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(group, 32);
}

TEST_F(CardRegisterTest, DetectThatTimesOutReportsTheFailureValues) {
  ScriptedAnswer stall;
  stall.answer.timing = os::DeviceAnswer::Timing::kNever;
  device_.QueueReadAnswer(stall);
  ORVIK_ULONG capacity = 1;
  unsigned char status = 5, group = 1;
  EXPECT_EQ(OrvikMMCDetectMedia(0, &capacity, &status, nullptr, &group), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(group, 32);
}

TEST_F(CardRegisterTest, RegistersAreCopiedAsByteImages) {
  std::vector<uint8_t> reply(21, 0);
  for (int i = 0; i < 18; ++i) reply[3 + i] = static_cast<uint8_t>(0xA0 + i);
  device_.QueueReply(reply);
  _MMC_CID cid{};
  unsigned char status = 9;
  EXPECT_EQ(OrvikMMCReadCID(0, &cid, &status), 1);
  EXPECT_EQ(status, 0);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(cid.bytes[i], 0xA0 + i);

  device_.QueueReply({0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF});
  ORVIK_ULONG ocr = 0;
  EXPECT_EQ(OrvikMMCReadOCR(0, &ocr, nullptr), 1);
  EXPECT_EQ(ocr, 0x12345678u);

  device_.QueueReply({0x34, 0x12, 0xEE});
  unsigned short word = 0;
  EXPECT_EQ(OrvikMMCReadStatus(0, &word), 1);
  EXPECT_EQ(word, 0x1234);
}

TEST_F(CardRegisterTest, NullRegisterPointerStillReportsTheStatus) {
  device_.QueueReply(std::vector<uint8_t>(21, 0));
  unsigned char status = 9;
  EXPECT_EQ(OrvikMMCReadCID(0, nullptr, &status), 1);
  EXPECT_EQ(status, 0);
}

TEST_F(CardRegisterTest, CardFailureLeavesTheRegisterUntouched) {
  std::vector<uint8_t> reply(21, 0x55);
  reply[0] = 0x02;
  device_.QueueReply(reply);
  _MMC_CSD csd;
  std::memset(csd.bytes, 0x11, sizeof csd.bytes);
  unsigned char status = 0;
  EXPECT_EQ(OrvikMMCReadCSD(0, &csd, &status), 0);
  EXPECT_EQ(status, 0x02);
  EXPECT_EQ(csd.bytes[0], 0x11);
}

TEST_F(CardRegisterTest, ProgrammedCsdIsSentInTheOrderItWasRead) {
  std::vector<uint8_t> reply(21, 0);
  for (int i = 0; i < 16; ++i) reply[3 + i] = static_cast<uint8_t>(i * 17 + 1);
  device_.QueueReply(reply);
  _MMC_CSD csd{};
  ASSERT_EQ(OrvikMMCReadCSD(0, &csd, nullptr), 1);
  device_.ClearRecords();
  unsigned char status = 9;
  EXPECT_EQ(OrvikMMCProgramCSD(0, &csd, &status), 1);
  EXPECT_EQ(status, 0);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  std::vector<uint8_t> expected = {0x05, 0x02, 0x40, 0x00, 0x00, 0x00};
  expected.insert(expected.end(), reply.begin() + 3, reply.begin() + 19);
  expected.insert(expected.end(), {0x00, 0x00});
  EXPECT_EQ(transfers[0].data, expected);
  EXPECT_EQ(transfers[1].length, 64u);
}

TEST_F(CardRegisterTest, ProgramWithoutARecordSendsNothing) {
  unsigned char status = 9;
  EXPECT_EQ(OrvikMMCProgramCSD(0, nullptr, &status), 0);
  EXPECT_EQ(status, 9);
  EXPECT_TRUE(device_.Transfers().empty());
  device_.QueueReply({0x03, 0, 0});
  _MMC_CSD csd{};
  EXPECT_EQ(OrvikMMCProgramCSD(0, &csd, &status), 0);
  EXPECT_EQ(status, 0x03);
}

}  // namespace
}  // namespace orvik::testing
