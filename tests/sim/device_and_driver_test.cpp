// Device commands, the driver's control requests, device objects and the
// firmware's protocol checks.
#include <gtest/gtest.h>

#include "sim/driver_controls.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

uint32_t Word24At(const Bytes& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16;
}

uint32_t Le32At(const Bytes& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
}

TEST(DeviceCommands, InformationRecordPowerWordAndChipRevision) {
  PlayerConfig config;
  config.dccVersion = 0x100;
  config.infoTag2 = 0x123456;
  config.powerWord = 0x00ABCD;
  config.chipRevision = 0x100207;
  auto player = Player::Create(config);
  Link link(player);
  Bytes info = link.Ask(Words({0x000003}), 64);
  ASSERT_EQ(info.size(), 64u);
  EXPECT_EQ(Word24At(info, 0), 3u);
  EXPECT_EQ(Word24At(info, 3), 0u);
  EXPECT_EQ(Word24At(info, 6), 0x101u);  // tag 0 default
  EXPECT_EQ(Word24At(info, 9), 1u);
  EXPECT_EQ(Word24At(info, 12), 0x100u);  // the DCC version
  EXPECT_EQ(Word24At(info, 15), 2u);
  EXPECT_EQ(Word24At(info, 18), 0x123456u);
  EXPECT_EQ(Bytes(info.begin() + 21, info.end()), Bytes(43, 0));
  EXPECT_EQ(link.Ask(Words({0x00000A}), 3), (Bytes{0xCD, 0xAB, 0x00}));
  EXPECT_EQ(link.Ask(Words({0x00000C}), 3), (Bytes{0x07, 0x02, 0x10}));
  // The default chip revision names the later chip in bits 8..23.
  auto standard = Player::Create(PlayerConfig{});
  Link standardLink(standard);
  EXPECT_EQ(Word24At(standardLink.Ask(Words({0x00000C}), 3), 0) >> 8, CHIP_REPLY_LATER);
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
}

TEST(DeviceCommands, AtMostTenItemsFitTheRecord) {
  PlayerConfig config;
  for (uint32_t tag = 10; tag < 20; ++tag) config.extraInfoItems.emplace_back(tag, tag * 2);
  auto player = Player::Create(config);
  Link link(player);
  Bytes info = link.Ask(Words({0x000003}), 64);
  EXPECT_EQ(Word24At(info, 0), 10u);
  EXPECT_EQ(Word24At(info, 3 + 6 * 9), 16u);  // the tenth item: the seventh extra one
  EXPECT_EQ(Word24At(info, 6 + 6 * 9), 32u);
  EXPECT_EQ(info[63], 0);
}

TEST(Protocol, MalformedExchangesFailAndAreCounted) {
  auto player = Player::Create(PlayerConfig{});
  Link link(player);
  struct Case {
    const char* what;
    Bytes frame;
  };
  const std::vector<Case> badFrames = {
      {"not whole words", Bytes{3, 0}},
      {"device command with direction bits", Words({0x800003})},
      {"device command with an argument", Words({0x000003, 0})},
      {"unknown device command", Words({0x000007})},
      {"unknown class", Words({0x000305})},
      {"flash command with the opposite direction", ReadPagesFrame(0, 1, 0x400103)},
      {"read pages with a page count of 0", ReadPagesFrame(0, 0)},
      {"read pages past the end", ReadPagesFrame(4096 * 32 - 1, 2)},
      {"read pages not on a page", FlashFrame(0x800103, 100, {528, 1, 9, 0})},
      {"read pages with another page size", FlashFrame(0x800103, 0, {512, 1, 8, 0})},
      {"flash command for drive 1", FlashFrame(0x800103, 0, {528, 1, 9, 1})},
      {"block marks with a wrong stride", FlashFrame(0x80010C, 0, {528, 4, 8192, 1, 0})},
      {"read ID of 9 bytes", Words({0x800106, 0, 0})},
      {"card command with wrong direction", CardFrame(4, 0x40, 0)},
      {"card command 11", CardFrame(11, 0, 0)},
      {"card frame too short", CardFrame(6, 0x80, 0, Le32(0))},
  };
  uint64_t count = 0;
  for (const Case& bad : badFrames) {
    os::DeviceAnswer answer = link.Write(bad.frame);
    EXPECT_EQ(answer.error, os::kErrorGeneralFailure) << bad.what;
    EXPECT_EQ(player->Stats().protocolViolations, ++count) << bad.what;
  }
  // A read with no frame before it; a write where the reply was due; a
  // reply read shorter than the reply.
  os::DeviceAnswer answer;
  link.Read(64, &answer);
  EXPECT_EQ(answer.error, os::kErrorGeneralFailure);
  ASSERT_EQ(link.Write(Words({0x000003})).error, 0u);
  EXPECT_NE(link.Write(Words({0x000003})).error, 0u);
  ASSERT_EQ(link.Write(Words({0x000003})).error, 0u);
  link.Read(32, &answer);
  EXPECT_NE(answer.error, 0u);
  EXPECT_EQ(player->Stats().protocolViolations, count + 3);
  // After all that the firmware is idle and answers normally.
  EXPECT_EQ(link.Ask(Words({0x00000A}), 3).size(), 3u);
  EXPECT_EQ(player->Stats().protocolViolations, count + 3);
  EXPECT_EQ(player->Stats().violations.size(), count + 3);
}

TEST(Protocol, FlashCommandsAreTakenWithAndWithoutDirectionBits) {
  auto player = Player::Create(PlayerConfig{});
  player->SetPageRaw(40, PatternPage(5));
  Link link(player);
  Bytes withBits = link.Ask(ReadPagesFrame(40, 1, 0x800103), 528);
  Bytes without = link.Ask(ReadPagesFrame(40, 1, 0x000103), 528);
  EXPECT_EQ(withBits, ToBytes(PatternPage(5)));
  EXPECT_EQ(without, withBits);
  EXPECT_TRUE(link.Send(WritePagesFrame(64, 1, 0x000101), ToBytes(PatternPage(6))));
  EXPECT_TRUE(link.Send(WritePagesFrame(65, 1, 0x400101), ToBytes(PatternPage(7))));
  EXPECT_EQ(link.Ask(EraseFrame(3, 32, 0x000104), 6)[3], 0xC0);
  Statistics stats = player->Stats();
  EXPECT_EQ(stats.protocolViolations, 0u);
  EXPECT_EQ(stats.framesByCommand[0x800103], 1u);
  EXPECT_EQ(stats.framesByCommand[0x000103], 1u);
  EXPECT_EQ(stats.exchanges, 5u);
  EXPECT_EQ(stats.transfers, 10u);
  EXPECT_EQ(stats.bytesIn, 4 * 21u + 15 + 2 * 528);
  EXPECT_EQ(stats.bytesOut, 2 * 576u + 64);
}

TEST(Driver, ControlRequestsAnswerWithTheirExactSizes) {
  PlayerConfig config;
  config.driver.versionWord = 0x0203;
  config.driver.chipId = 0x12341002;
  auto player = Player::Create(config);
  Link link(player);
  Bytes out;
  EXPECT_EQ(link.Control(kIoctlGetUserData, {}, &out, 16).count, 16u);
  EXPECT_EQ(out, Bytes(16, 0));  // zero when plugged in
  Bytes record = Concat({Le32(1), Le32(0), Le32(1), Le32(7)});
  EXPECT_EQ(link.Control(kIoctlSetUserData, record, &out, 0).error, 0u);
  EXPECT_EQ(player->UserData().reservedWord, 7u);
  link.Control(kIoctlGetUserData, {}, &out, 16);
  EXPECT_EQ(out, record);
  EXPECT_EQ(link.Control(kIoctlGetDeviceStatus, {}, &out, 4).count, 4u);
  EXPECT_EQ(Le32At(out, 0), 1u);
  link.Control(kIoctlGetDeviceVersion, {}, &out, 4);
  EXPECT_EQ(Le32At(out, 0), 0x0203u);
  link.Control(kIoctlGetChipId, {}, &out, 4);
  EXPECT_EQ(Le32At(out, 0), 0x12341002u);
  EXPECT_EQ(link.Control(0x22200C, {}, &out, 4).error, os::kErrorNotSupported);
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
  // Wrong sizes fail and are counted.
  EXPECT_EQ(link.Control(kIoctlGetUserData, {}, &out, 32).error, os::kErrorGeneralFailure);
  EXPECT_EQ(link.Control(kIoctlSetUserData, Bytes(8, 0), &out, 0).error, os::kErrorGeneralFailure);
  EXPECT_EQ(player->Stats().protocolViolations, 2u);
}

TEST(Driver, ReconfigureRefusalsStatusWithoutDataAndRecoveryStatus) {
  PlayerConfig config;
  config.driver.reconfigureRefusals = 2;
  config.driver.statusReturnsNoData = true;
  auto player = Player::Create(config);
  Link link(player);
  Bytes out;
  EXPECT_NE(link.Control(kIoctlReconfigure, {}, &out, 0).error, 0u);
  EXPECT_NE(link.Control(kIoctlReconfigure, {}, &out, 0).error, 0u);
  EXPECT_EQ(link.Control(kIoctlReconfigure, {}, &out, 0).error, 0u);
  os::DeviceAnswer status = link.Control(kIoctlGetDeviceStatus, {}, &out, 4);
  EXPECT_EQ(status.error, 0u);
  EXPECT_EQ(status.count, 0u);

  DriverConfig driver = player->DriverSettings();
  driver.statusReturnsNoData = false;
  player->SetDriverSettings(driver);
  player->SetRecoveryMode(true);
  link.Control(kIoctlGetDeviceStatus, {}, &out, 4);
  EXPECT_EQ(Le32At(out, 0), 2u);
}

TEST(Driver, DeviceObjectNamesAndRegistration) {
  PlayerConfig config;
  config.instance = 4;
  auto player = Player::Create(config);
  EXPECT_EQ(player->ObjectName(), "TEMBROr4");
  player->Register();
  EXPECT_NE(os::FindRegisteredDevice("TEMBROr4"), nullptr);
  player->SetRecoveryMode(true);
  EXPECT_EQ(player->ObjectName(), "OrvikRecDevice4");
  EXPECT_EQ(os::FindRegisteredDevice("TEMBROr4"), nullptr);
  auto driver = os::FindRegisteredDevice("OrvikRecDevice4");
  ASSERT_NE(driver, nullptr);
  EXPECT_NE(driver->Open(), nullptr);
  DriverConfig refusing = player->DriverSettings();
  refusing.refuseOpen = true;
  player->SetDriverSettings(refusing);
  EXPECT_EQ(driver->Open(), nullptr);
  player->Unregister();
  EXPECT_EQ(os::FindRegisteredDevice("OrvikRecDevice4"), nullptr);
  // A registered object does not keep its player alive, and a player that
  // is gone is unplugged: its object is removed, opens through it fail.
  player->SetRecoveryMode(false);
  player->Register();
  std::shared_ptr<os::DeviceDriver> object = os::FindRegisteredDevice("TEMBROr4");
  ASSERT_NE(object, nullptr);
  player.reset();
  EXPECT_EQ(os::FindRegisteredDevice("TEMBROr4"), nullptr);
  EXPECT_EQ(object->Open(), nullptr);
}

TEST(Trace, EveryTransferAndControlIsReportedOutsideThePlayersLock) {
  auto player = Player::Create(PlayerConfig{});
  std::vector<TraceEvent> events;
  std::weak_ptr<Player> weak = player;
  player->SetTrace([&](const TraceEvent& event) {
    events.push_back(event);
    if (auto self = weak.lock()) self->TransferCount();  // would deadlock under the lock
  });
  Link link(player);
  link.Ask(ReadPagesFrame(0, 1), 528);
  Bytes out;
  link.Control(kIoctlGetChipId, {}, &out, 4);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, TraceEvent::Kind::kWrite);
  EXPECT_EQ(events[0].transfer, 1u);
  EXPECT_NE(events[0].decoded.find("read pages"), std::string::npos);
  EXPECT_EQ(events[0].head.size(), 21u);
  EXPECT_EQ(events[1].kind, TraceEvent::Kind::kRead);
  EXPECT_EQ(events[1].count, 576u);
  EXPECT_EQ(events[1].head.size(), 32u);
  EXPECT_EQ(events[2].kind, TraceEvent::Kind::kControl);
  EXPECT_NE(FormatTraceEvent(events[2]).find("get chip id"), std::string::npos);
}

}  // namespace
}  // namespace orvik::sim::testing
