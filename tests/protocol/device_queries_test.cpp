// Device information, chip identity and power status on the wire.
#include <cstring>

#include "protocol/device_queries.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

// A 64-byte device-information record with the given (tag, value) items.
std::vector<uint8_t> InfoRecord(uint32_t count,
                                std::vector<std::pair<uint32_t, uint32_t>> items) {
  std::vector<uint8_t> record(64, 0);
  auto put = [&](size_t at, uint32_t word) {
    record[at] = static_cast<uint8_t>(word);
    record[at + 1] = static_cast<uint8_t>(word >> 8);
    record[at + 2] = static_cast<uint8_t>(word >> 16);
  };
  put(0, count);
  for (size_t i = 0; i < items.size() && i < 10; ++i) {
    put(3 + 6 * i, items[i].first);
    put(6 + 6 * i, items[i].second);
  }
  return record;
}

class DeviceQueryTest : public LibraryTest {};

TEST_F(DeviceQueryTest, DeviceInfoCommandIsOneWordAndReadsSixtyFourBytes) {
  OpenQuietly();
  device_.QueueReply(InfoRecord(1, {{1, 0x123}}));
  uint32_t dcc = 0;
  ASSERT_TRUE(protocol::ParseDeviceInfo(nullptr, &dcc, nullptr));
  EXPECT_EQ(dcc, 0x123u);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].data, (std::vector<uint8_t>{0x03, 0x00, 0x00}));
  EXPECT_EQ(transfers[1].kind, Recorded::Kind::kRead);
  EXPECT_EQ(transfers[1].length, 64u);
}

TEST_F(DeviceQueryTest, ParserHonoursTheCountAndLetsLaterItemsWin) {
  OpenQuietly();
  uint32_t t0 = 77, t1 = 77, t2 = 77;
  device_.QueueReply(InfoRecord(0, {{0, 5}, {1, 6}, {2, 7}}));
  ASSERT_TRUE(protocol::ParseDeviceInfo(&t0, &t1, &t2));
  EXPECT_EQ(t0, 77u);  // count 0: no items at all
  EXPECT_EQ(t1, 77u);

  device_.QueueReply(InfoRecord(3, {{1, 0x100}, {9, 1}, {1, 0x200}}));
  ASSERT_TRUE(protocol::ParseDeviceInfo(&t0, &t1, &t2));
  EXPECT_EQ(t1, 0x200u);  // a later item with the same tag overwrites
  EXPECT_EQ(t0, 77u);

  // A count above 10 reads ten items; the tenth is the last that fits.
  std::vector<std::pair<uint32_t, uint32_t>> many(10, {9, 0});
  many[9] = {2, 0xABCDEF};
  device_.QueueReply(InfoRecord(200, many));
  ASSERT_TRUE(protocol::ParseDeviceInfo(&t0, &t1, &t2));
  EXPECT_EQ(t2, 0xABCDEFu);
}

TEST_F(DeviceQueryTest, ChipModelAsksForTheRevisionOnlyAbove0x100) {
  OpenQuietly();
  device_.QueueReply(InfoRecord(1, {{0, 0x100}}));
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);
  EXPECT_EQ(device_.Transfers().size(), 2u);  // no revision command

  device_.ClearRecords();
  device_.QueueReply(InfoRecord(1, {{0, 0x101}}));
  device_.QueueReply(Words24({(CHIP_REPLY_LATER << 8) | 0x5A}));
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);  // the low byte does not matter
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 4u);
  EXPECT_EQ(transfers[2].data, (std::vector<uint8_t>{0x0C, 0x00, 0x00}));
  EXPECT_EQ(transfers[3].length, 64u);  // a 3-byte reply is read as one packet

  device_.QueueReply(InfoRecord(1, {{0, 0x101}}));
  device_.QueueReply(Words24({0x00AB01}));
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_EARLY);
}

TEST_F(DeviceQueryTest, ChipModelWithoutTag0OrRevisionAnswerIsTheLaterModel) {
  OpenQuietly();
  device_.QueueReply(InfoRecord(1, {{1, 0x101}}));
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);
  EXPECT_EQ(device_.Transfers().size(), 2u);

  device_.ClearRecords();
  device_.QueueReply(InfoRecord(1, {{0, 0x200}}));
  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueReadAnswer(failed);  // the revision reply does not come
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);
  EXPECT_EQ(device_.Transfers().size(), 4u);
}

TEST_F(DeviceQueryTest, ChipIdFromTheDriverWithAnyOtherSource) {
  OpenQuietly();
  device_.State().chipId = 0x00AB1234;
  EXPECT_EQ(OrvikGetChipId(0), 0x00AB1234u);
  EXPECT_EQ(OrvikGetChipId(2), 0x00AB1234u);
  EXPECT_TRUE(device_.Transfers().empty());
}

TEST_F(DeviceQueryTest, PowerWordIsPassedOnAndUntouchedOnFailure) {
  OpenQuietly();
  device_.QueueReply(Words24({0x00C0DE}));
  ORVIK_ULONG power = 5;
  EXPECT_EQ(OrvikGetPowerStatus(&power), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(power, 0x00C0DEu);
  EXPECT_EQ(device_.Transfers()[0].data, (std::vector<uint8_t>{0x0A, 0x00, 0x00}));

  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueWriteAnswer(failed);
  power = 5;
  EXPECT_EQ(OrvikGetPowerStatus(&power), ACCESS_DEVICE_NO_ANSWER);
  EXPECT_EQ(power, 5u);
}

}  // namespace
}  // namespace orvik::testing
