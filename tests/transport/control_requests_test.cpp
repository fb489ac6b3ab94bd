// The driver's control requests as the DD exports issue them.
#include "support/library_fixture.h"
#include "transport/control_requests.h"

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
  state.statusBytes = 0;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_NO_DATA);
  state.controlsFail = true;
  EXPECT_EQ(OrvikDDGetDeviceStatus(), DEVICE_STATUS_FAILED);
  auto controls = device_.Controls();
  ASSERT_FALSE(controls.empty());
  EXPECT_EQ(controls[0].code, 0x22201Cu);
  EXPECT_EQ(controls[0].length, 4u);
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
