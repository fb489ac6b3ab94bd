// The entry points against a simulated player: scanning for its instance,
// the recovery object, the description read and the close.
#include "api/library_context.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

class SimulatedOpenTest : public SimPlayerTest {
 protected:
  void Register(const sim::PlayerConfig& config) {
    player_ = sim::Player::Create(config);
    player_->Register();
  }
  ~SimulatedOpenTest() override { api::Context().SetDccVersion(0); }
};

TEST_F(SimulatedOpenTest, ScanFindsThePlayerAtInstanceSevenAndReadsItsVersion) {
  sim::PlayerConfig config;
  config.instance = 7;
  config.dccVersion = 0x123;
  Register(config);
  os_.openedNames.clear();
  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  EXPECT_EQ(os_.openedNames.size(), 8u);
  EXPECT_EQ(api::Context().DccVersion(), 0x123u);
  EXPECT_NE(os_.debugText.find("Smartmedia DCC Version: 123\n"), std::string::npos);
  EXPECT_EQ(player_->UserData().ownerFlag, 1u);
  EXPECT_EQ(player_->UserData().blockingFlag, 1u);
  ORVIK_ULONG type = 0, failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(OrvikGetDeviceStatus(), DEVICE_STATUS_NORMAL);
  EXPECT_EQ(OrvikCloseDriver(), 1);
  EXPECT_EQ(player_->UserData().ownerFlag, 0u);
  EXPECT_EQ(OrvikCloseDriver(), 0);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

TEST_F(SimulatedOpenTest, RecoveryObjectOpensWithoutTheDescription) {
  sim::PlayerConfig config;
  config.instance = 3;
  config.recoveryMode = true;
  Register(config);
  os_.openedNames.clear();
  EXPECT_EQ(OrvikOpenDriverEx(3, DEVICE_STATUS_NORMAL), 0);  // the normal object does not exist
  os_.debugText.clear();                                     // the failed open explained itself
  ASSERT_EQ(OrvikOpenDriverEx(3, DEVICE_STATUS_RECOVERY), 1);
  EXPECT_EQ(os_.openedNames.back(), "\\\\.\\OrvikRecDevice3");
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(os_.debugText, "");
  EXPECT_EQ(OrvikGetDeviceStatus(), DEVICE_STATUS_RECOVERY);
}

TEST_F(SimulatedOpenTest, OldFirmwareGetsCommandWordsWithoutDirectionBits) {
  sim::PlayerConfig config;
  config.dccVersion = 0x100;
  config.flashType = 11;
  Register(config);
  ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  ORVIK_ULONG type = 0, failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 11u);
  auto frames = player_->Stats().framesByCommand;
  EXPECT_EQ(frames.count(0x000106), 1u);
  EXPECT_EQ(frames.count(0x800106), 0u);
}

TEST_F(SimulatedOpenTest, CardAndChipQueriesAnswerFromThePlayer) {
  sim::PlayerConfig config;
  config.card.capacityBlocks = 125440;
  config.card.attribute = 5;
  Register(config);
  ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  ORVIK_ULONG capacity = 0;
  unsigned char status = 9, attribute = 0, group = 0;
  EXPECT_EQ(OrvikMMCDetectMedia(0, &capacity, &status, &attribute, &group), 1);
  EXPECT_EQ(capacity, 125440u);
  EXPECT_EQ(attribute, 5);
  EXPECT_EQ(group, 32);
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);
  ORVIK_ULONG power = 0;
  EXPECT_EQ(OrvikGetPowerStatus(&power), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

}  // namespace
}  // namespace orvik::testing
