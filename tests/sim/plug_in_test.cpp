// Plugging a player in: only PlugIn() runs the startup check, and what it
// decides shows in the device object's name, the driver's status word, the
// registered object and the saved player; a forced recovery mode and a
// player as delivered lie over the check's verdict.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/driver_controls.h"
#include "sim/player_json.h"
#include "startup_copy.h"

namespace orvik::sim::testing {
namespace {

namespace fs = std::filesystem;

const Bytes kImage = ImageOfLength(kPages * 512 + 9 * 512 + 50);

uint32_t StatusWord(Link& link) {
  Bytes out;
  if (link.Control(kIoctlGetDeviceStatus, {}, &out, 4).error != 0) return 0xDEAD;
  return out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24;
}

TEST(PlugIn, OnlyThePlugInRunsTheStartupCheck) {
  StartupCopy blank;
  Player& player = *blank.player_;
  // Made, powered up again, saved and loaded: a blank player opens normally,
  // as the fixtures of the library's tests need.
  EXPECT_EQ(player.ObjectName(), "TEMBROr0");
  player.RestorePower();
  EXPECT_EQ(player.ObjectName(), "TEMBROr0");
  EXPECT_EQ(player.Startup().plugIns, 0u);

  player.Register();
  blank.PlugIn();
  const Player::StartState start = player.Startup();
  EXPECT_EQ(start.mode, StartMode::kRecovery);
  EXPECT_EQ(start.reason, "the low system blocks are not marked");
  EXPECT_EQ(start.plugIns, 1u);
  EXPECT_FALSE(start.forced);
  // The registered object follows the name; the driver reports recovery.
  EXPECT_NE(os::FindRegisteredDevice("OrvikRecDevice0"), nullptr);
  EXPECT_EQ(os::FindRegisteredDevice("TEMBROr0"), nullptr);
  Link link(blank.player_);
  EXPECT_EQ(StatusWord(link), player.DriverSettings().recoveryStatusWord);
  player.Unregister();

  // A whole copy starts once the player is plugged in again, not before.
  blank.Lay(kImage, {1, 2, 3});
  EXPECT_EQ(player.ObjectName(), "OrvikRecDevice0");
  EXPECT_EQ(blank.PlugIn().mode, StartMode::kNormal);
  Link again(blank.player_);
  EXPECT_EQ(StatusWord(again), player.DriverSettings().statusWord);
}

TEST(PlugIn, DropsTheOldConnectionsAndClearsTheHostRecord) {
  StartupCopy copy;
  copy.Lay(kImage, {1, 2, 3});
  auto before = std::make_unique<Link>(copy.player_);
  copy.player_->SetUserData(_USER_DATA{1, 2, 3, 4});
  copy.PlugIn();
  EXPECT_NE(before->Write(Words({0x03})).error, 0u) << "the unplugged device is gone";
  Bytes out;
  EXPECT_NE(before->Control(kIoctlGetDeviceStatus, {}, &out, 4).error, 0u);
  const _USER_DATA data = copy.player_->UserData();
  EXPECT_EQ(data.ownerFlag | data.formatStatus | data.blockingFlag | data.reservedWord, 0u);
  // The old handle, closed in the middle of a new one's exchange, does not
  // end that exchange.
  Link after(copy.player_);
  ASSERT_EQ(after.Write(ReadPagesFrame(16, 1)).error, 0u);
  before.reset();
  os::DeviceAnswer answer;
  after.Read(576, &answer);
  EXPECT_EQ(answer.error, 0u);
  EXPECT_EQ(answer.count, 576u);
  EXPECT_EQ(StatusWord(after), 1u);
}

TEST(PlugIn, APlayerAsDeliveredStartsUntilItsFirstWholeCopy) {
  PlayerConfig config = SmallFlash();
  config.factoryStart = true;
  StartupCopy copy(config);
  Player::StartState start = copy.PlugIn();
  EXPECT_EQ(start.mode, StartMode::kNormal);
  EXPECT_NE(start.reason.find("as delivered"), std::string::npos) << start.reason;
  EXPECT_NE(start.reason.find("not marked"), std::string::npos) << start.reason;
  EXPECT_TRUE(copy.player_->Config().factoryStart);

  copy.Lay(kImage, {1, 2, 3});
  EXPECT_EQ(copy.PlugIn().reason, "the startup copy is whole");
  EXPECT_FALSE(copy.player_->Config().factoryStart) << "the flash decides from now on";
  copy.player_->EraseBlock(2);
  start = copy.PlugIn();
  EXPECT_EQ(start.mode, StartMode::kRecovery);
  EXPECT_EQ(start.reason, "block 2 of the startup copy is erased");
}

TEST(PlugIn, AForcedRecoveryModeLiesOverTheCheck) {
  StartupCopy copy;
  copy.Lay(kImage, {1, 2, 3});
  copy.player_->SetRecoveryMode(true);
  Player::StartState start = copy.PlugIn();
  EXPECT_EQ(start.mode, StartMode::kRecovery);
  EXPECT_TRUE(start.forced);
  EXPECT_NE(start.reason.find("forced"), std::string::npos);
  // Lifting the force: the check's verdict of that plug-in applies.
  copy.player_->SetRecoveryMode(false);
  EXPECT_EQ(copy.player_->ObjectName(), "TEMBROr0");
  EXPECT_EQ(copy.player_->Startup().reason, "the startup copy is whole");

  copy.player_->EraseBlock(1);
  copy.player_->SetRecoveryMode(true);
  copy.PlugIn();
  copy.player_->SetRecoveryMode(false);
  EXPECT_EQ(copy.player_->ObjectName(), "OrvikRecDevice0");
}

class PlugInFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvik-plug-in-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// A saved player comes back as it last started, without a check: a flash
// spoiled on disk shows only when the loaded player is plugged in.
TEST_F(PlugInFolder, LoadKeepsTheLastStartAndRunsNoCheck) {
  StartupCopy copy;
  copy.Lay(kImage, {1, 2, 3});
  copy.PlugIn();
  std::string error;
  ASSERT_TRUE(copy.player_->Save(dir_.string(), &error)) << error;
  {
    std::fstream nand(dir_ / "nand.bin", std::ios::in | std::ios::out | std::ios::binary);
    nand.seekp(std::streamoff{kPages} * kPageBytes);  // block 1, page 0
    const std::string erased(kPages * kPageBytes, '\xFF');
    nand.write(erased.data(), static_cast<std::streamsize>(erased.size()));
  }
  std::shared_ptr<Player> loaded = Player::Load(dir_.string(), &error);
  ASSERT_NE(loaded, nullptr) << error;
  EXPECT_EQ(loaded->ObjectName(), "TEMBROr0");
  EXPECT_EQ(loaded->Startup().reason, "the startup copy is whole");
  EXPECT_EQ(loaded->Startup().plugIns, 0u);  // counted in this process only
  loaded->PlugIn();
  EXPECT_EQ(loaded->Startup().reason, "block 1 of the startup copy is erased");
  ASSERT_TRUE(loaded->Save(dir_.string(), &error)) << error;
  EXPECT_EQ(Player::Load(dir_.string(), &error)->ObjectName(), "OrvikRecDevice0");
}

// A player.json written before players started by their flash keeps
// starting as it did, as delivered.
TEST(PlugInSettings, OlderSettingsLoadAsDelivered) {
  PlayerConfig config;
  std::string error;
  ASSERT_TRUE(PlayerConfigFromJson(R"({"format": 1, "flash": {"type": 3}})", &config, &error))
      << error;
  EXPECT_TRUE(config.factoryStart);
  EXPECT_EQ(config.started.mode, StartMode::kNormal);

  PlayerConfig spoiled;
  EXPECT_FALSE(PlayerConfigFromJson(R"({"start": {"mode": "sleeping"}})", &spoiled, &error));
  EXPECT_NE(error.find("sleeping"), std::string::npos) << error;
}

TEST(PlugInSettings, TheStartSurvivesTheRoundTrip) {
  PlayerConfig config = SmallFlash();
  config.factoryStart = true;
  config.started = StartRecord{StartMode::kRecovery, "block 2 of the startup copy is erased", 7};
  PlayerConfig back;
  std::string error;
  ASSERT_TRUE(PlayerConfigFromJson(PlayerConfigToJson(config), &back, &error)) << error;
  EXPECT_TRUE(back.factoryStart);
  EXPECT_EQ(back.started.mode, StartMode::kRecovery);
  EXPECT_EQ(back.started.reason, config.started.reason);
  // The count is the process's: a save of an unchanged player changes no byte.
  EXPECT_EQ(back.started.plugIns, 0u);
}

}  // namespace
}  // namespace orvik::sim::testing
