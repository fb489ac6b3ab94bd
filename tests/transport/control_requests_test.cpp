// The driver's control requests as the DD exports issue them.
#include "transport/control_requests.h"

#include <functional>
#include <vector>

#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

class ControlRequestTest : public LibraryTest {};

TEST_F(ControlRequestTest, DeviceStatusMapsFailureEmptyNormalAndOther) {
  OpenQuietly();
  auto& state = device_.State();
  state.statusWord = 1;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_NORMAL);
  state.statusWord = 5;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_RECOVERY);
  state.statusWord = 1;
  state.answerBytes[transport::kIoctlGetDeviceStatus] = 0;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_NO_DATA);
  state.controlsFail = true;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_FAILED);
  auto controls = device_.Controls();
  ASSERT_FALSE(controls.empty());
  EXPECT_EQ(controls[0].code, 0x22201Cu);
  EXPECT_EQ(controls[0].length, 4u);
}

// A driver that returns less than a request's record or word has not
// answered it: every export that reads one reports its failure value, and
// the caller's output keeps what it held (no half-written record reported as
// read).  The status request keeps its own value for an empty answer.
TEST_F(ControlRequestTest, ShortAnswersFailEveryExportThatReadsThem) {
  OpenQuietly();
  constexpr uint32_t kUntouched = 0xA5A5A5A5;
  struct Output {
    long result;
    uint32_t firstWord;  // kUntouched unless the export wrote its output
  };
  auto record = [](auto read) {
    _USER_DATA data{kUntouched, kUntouched, kUntouched, kUntouched};
    long result = read(&data);
    return Output{result, data.ownerFlag};
  };
  auto version = [](auto read) {
    ORVIK_ULONG word = kUntouched;
    long result = read(&word);
    return Output{result, word};
  };
  auto value = [](long result) { return Output{result, kUntouched}; };
  struct Case {
    const char* name;
    uint32_t code;
    std::vector<uint32_t> shortCounts;
    long failure;
    std::function<Output()> call;
  };
  const Case cases[] = {
      {"OrvikDDGetStatus",
       transport::kIoctlGetUserData,
       {0, 4, 15},
       0,
       [&] { return record(OrvikDDGetStatus); }},
      {"OrvikGetStatus",
       transport::kIoctlGetUserData,
       {0, 15},
       0,
       [&] { return record(OrvikGetStatus); }},
      {"OrvikDDGetDeviceVersion",
       transport::kIoctlGetDeviceVersion,
       {0, 3},
       0,
       [&] { return version(OrvikDDGetDeviceVersion); }},
      {"OrvikGetDeviceVersion",
       transport::kIoctlGetDeviceVersion,
       {0, 2},
       0,
       [&] { return version(OrvikGetDeviceVersion); }},
      {"OrvikDDGetDeviceStatus",
       transport::kIoctlGetDeviceStatus,
       {1, 3},
       DEVICE_STATUS_FAILED,
       [&] { return value(static_cast<long>(OrvikDDGetDeviceStatus())); }},
      {"OrvikGetDeviceStatus",
       transport::kIoctlGetDeviceStatus,
       {2},
       DEVICE_STATUS_FAILED,
       [&] { return value(OrvikGetDeviceStatus()); }},
      {"OrvikDDGetChipId",
       transport::kIoctlGetChipId,
       {0, 3},
       DEFAULT_CHIP_ID,
       [&] { return value(static_cast<long>(OrvikDDGetChipId())); }},
  };
  for (const Case& c : cases) {
    for (uint32_t count : c.shortCounts) {
      device_.State().answerBytes[c.code] = count;
      Output output = c.call();
      EXPECT_EQ(output.result, c.failure) << c.name << " with " << count << " bytes";
      EXPECT_EQ(output.firstWord, kUntouched) << c.name << " with " << count << " bytes";
    }
    device_.State().answerBytes.clear();
    Output whole = c.call();  // the same export with the whole answer
    EXPECT_NE(whole.result, c.failure) << c.name;
  }
  device_.State().answerBytes[transport::kIoctlGetDeviceStatus] = 0;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_NO_DATA);
}

TEST_F(ControlRequestTest, FormatStatusAlwaysSetsTheOwnerWord) {
  OpenQuietly();
  device_.State().userData = _USER_DATA{0, 3, 7, 9};
  EXPECT_EQ(OrvikDDSetFormatStatus(0), 1);
  _USER_DATA record = device_.State().userData;
  EXPECT_EQ(record.ownerFlag, 1u);
  EXPECT_EQ(record.formatStatus, 0u);
  EXPECT_EQ(record.blockingFlag, 7u);
  EXPECT_EQ(record.reservedWord, 9u);
}

TEST_F(ControlRequestTest, FormatStatusStartsFromZerosWhenTheReadFails) {
  OpenQuietly();
  device_.State().userData = _USER_DATA{0, 3, 7, 9};
  device_.State().failingCodes = {transport::kIoctlGetUserData};
  EXPECT_EQ(OrvikDDSetFormatStatus(1), 1);
  _USER_DATA record = device_.State().userData;
  EXPECT_EQ(record.ownerFlag, 1u);
  EXPECT_EQ(record.formatStatus, 1u);
  EXPECT_EQ(record.blockingFlag, 0u);
  EXPECT_EQ(record.reservedWord, 0u);
  device_.State().failingCodes = {transport::kIoctlSetUserData};
  EXPECT_EQ(OrvikDDSetFormatStatus(1), 0);
}

TEST_F(ControlRequestTest, ReconfigureMakesElevenPausedAttempts) {
  OpenQuietly();
  device_.State().reconfigureRefusals = 100;
  EXPECT_EQ(OrvikDDReconfigure(), 0);
  EXPECT_EQ(os_.sleeps, std::vector<uint32_t>(11, 250));
  EXPECT_EQ(device_.Controls().size(), 11u);

  os_.sleeps.clear();
  device_.State().reconfigureRefusals = 3;
  EXPECT_EQ(OrvikDDReconfigure(), 1);
  EXPECT_EQ(os_.sleeps.size(), 4u);
}

TEST_F(ControlRequestTest, ChipIdAndVersionPassTheDriverWordsThrough) {
  OpenQuietly();
  device_.State().chipId = 0xCAFE0101;
  device_.State().versionWord = 0x0203;
  EXPECT_EQ(OrvikDDGetChipId(), 0xCAFE0101u);
  ORVIK_ULONG version = 0;
  EXPECT_EQ(OrvikDDGetDeviceVersion(&version), 1);
  EXPECT_EQ(version, 0x0203u);
  EXPECT_EQ(OrvikDDGetDeviceVersion(nullptr), 0);
  device_.State().controlsFail = true;
  EXPECT_EQ(OrvikDDGetChipId(), DEFAULT_CHIP_ID);
  EXPECT_EQ(OrvikDDGetDeviceVersion(&version), 0);
}

TEST_F(ControlRequestTest, StatusRecordRoundTrips) {
  OpenQuietly();
  _USER_DATA record{4, 3, 2, 1};
  EXPECT_EQ(OrvikDDSetStatus(&record), 1);
  _USER_DATA read{};
  EXPECT_EQ(OrvikDDGetStatus(&read), 1);
  EXPECT_EQ(read.ownerFlag, 4u);
  EXPECT_EQ(read.reservedWord, 1u);
  EXPECT_EQ(OrvikDDGetStatus(nullptr), 0);
}

TEST_F(ControlRequestTest, EveryRequestFailsWithoutASession) {
  _USER_DATA record{};
  ORVIK_ULONG version = 0;
  EXPECT_EQ(OrvikDDGetStatus(&record), 0);
  EXPECT_EQ(OrvikDDSetStatus(&record), 0);
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_FAILED);
  EXPECT_EQ(OrvikDDSetFormatStatus(1), 0);
  EXPECT_EQ(OrvikDDGetDeviceVersion(&version), 0);
  EXPECT_EQ(OrvikDDGetChipId(), DEFAULT_CHIP_ID);
  EXPECT_EQ(OrvikDDReconfigure(), 0);
  EXPECT_TRUE(device_.All().empty());
}

}  // namespace
}  // namespace orvik::testing
