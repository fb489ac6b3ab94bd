// The bus timing model: off unless asked for, and when on, the bus time the
// player accounts for an operation is its transfers' fixed cost, its bytes'
// cost and its control requests' cost, in process and served alike.  The
// figures are checked against the player's own trace, not a stopwatch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "orvik/orvik.h"
#include "sim/driver_controls.h"
#include "sim/player_json.h"
#include "sim/socket_server.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

namespace fs = std::filesystem;

// Small figures keep the test quick; the rounding up to whole microseconds
// per transfer shows with 1500 ns a byte.
constexpr BusTiming kTiming{true, 30, 1500, 70};

// What the model should charge for the traced events.
class ExpectedBusTime {
 public:
  void Attach(Player& player) {
    player.SetTrace([this](const TraceEvent& event) {
      std::lock_guard<std::mutex> guard(mutex_);
      if (event.kind == TraceEvent::Kind::kControl) {
        if (event.decoded != "connection dropped") micros_ += kTiming.controlMicros;
        return;
      }
      if (event.decoded.find("stall") != std::string::npos ||
          event.decoded.find("disconnect") != std::string::npos)
        return;  // never answered: the host waits its own limit, not the bus
      const uint32_t moved = event.error == 0 ? event.count : 0;
      micros_ += kTiming.transferMicros + (uint64_t{moved} * kTiming.byteNanos + 999) / 1000;
    });
  }
  uint64_t Micros() {
    std::lock_guard<std::mutex> guard(mutex_);
    return micros_;
  }

 private:
  std::mutex mutex_;
  uint64_t micros_ = 0;
};

// A few exchanges of every kind: a page read, a page write with its data
// block, control requests, a failed transfer and a stalled one.
void Exchanges(const std::shared_ptr<Player>& player) {
  Link link(player);
  EXPECT_EQ(link.Ask(ReadPagesFrame(40, 3), 3 * 528).size(), 3u * 528);
  RawPage page = PatternPage(5);
  EXPECT_TRUE(link.Send(WritePagesFrame(70, 1), ToBytes(page)));
  Bytes out;
  EXPECT_EQ(link.Control(kIoctlGetDeviceStatus, {}, &out, 4).error, 0u);
  EXPECT_EQ(link.Control(kIoctlGetChipId, {}, &out, 4).error, 0u);
  player->AddTransferFault({1, TransferFault::Kind::kError});
  player->AddTransferFault({2, TransferFault::Kind::kStall});
  link.Write(ReadPagesFrame(1, 1));
  link.Write(ReadPagesFrame(1, 1));
  EXPECT_EQ(link.Ask(ReadPagesFrame(2, 2), 2 * 528).size(), 2u * 528);
}

TEST(BusTiming, IsOffUnlessAskedFor) {
  EXPECT_FALSE(PlayerConfig{}.bus.enabled);
  auto player = Player::Create(PlayerConfig{});
  Exchanges(player);
  EXPECT_GT(player->Stats().transfers, 5u);
  EXPECT_EQ(player->Stats().busMicros, 0u);
}

TEST(BusTiming, ChargesEveryTransferItsFixedCostAndItsBytes) {
  PlayerConfig config;
  config.bus = kTiming;
  auto player = Player::Create(config);
  ExpectedBusTime expected;
  expected.Attach(*player);
  Exchanges(player);
  EXPECT_EQ(player->Stats().busMicros, expected.Micros());
  EXPECT_GT(expected.Micros(), 3u * 528 * kTiming.byteNanos / 1000) << "the bytes count";

  // Switched off again: nothing more is charged.
  player->SetBusTiming(BusTiming{});
  const uint64_t before = player->Stats().busMicros;
  Link link(player);
  link.Ask(ReadPagesFrame(3, 1), 528);
  EXPECT_EQ(player->Stats().busMicros, before);
}

// Kept in player.json; a file written before the model existed loads with
// the model off.
TEST(BusTiming, IsKeptWithThePlayersSettings) {
  PlayerConfig config;
  config.bus = BusTiming{true, 120, 2500, 900};
  PlayerConfig back;
  std::string error;
  ASSERT_TRUE(PlayerConfigFromJson(PlayerConfigToJson(config), &back, &error)) << error;
  EXPECT_TRUE(back.bus.enabled);
  EXPECT_EQ(back.bus.transferMicros, 120u);
  EXPECT_EQ(back.bus.byteNanos, 2500u);
  EXPECT_EQ(back.bus.controlMicros, 900u);

  PlayerConfig older;
  ASSERT_TRUE(PlayerConfigFromJson(R"({"format": 1, "flash": {"type": 7}})", &older, &error))
      << error;
  EXPECT_FALSE(older.bus.enabled);
}

// Served on a socket, through the library's channel, the same operation
// costs the same: the player charges it, not the channel.
TEST(BusTiming, AServedPlayerAccountsItsBusTimeAsInProcess) {
  const fs::path dir = fs::temp_directory_path() / ("orvik-bus-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  PlayerConfig config;
  config.bus = kTiming;
  auto player = Player::Create(config);
  ExpectedBusTime expected;
  expected.Attach(*player);
  SocketServer::Options options;
  options.deviceDir = dir.string();
  auto server = std::make_unique<SocketServer>(player, options);
  std::string error;
  ASSERT_TRUE(server->Start(&error)) << error;
  ::setenv("ORVIK_DEVICE_DIR", dir.c_str(), 1);

  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  ORVIK_ULONG flashType = 0, failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&flashType, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(flashType, 7u);
  OrvikCloseDriver();

  server.reset();
  ::unsetenv("ORVIK_DEVICE_DIR");
  fs::remove_all(dir);
  EXPECT_GT(player->Stats().transfers, 2u);
  EXPECT_GT(player->Stats().controlRequests, 0u);
  EXPECT_EQ(player->Stats().busMicros, expected.Micros());
}

}  // namespace
}  // namespace orvik::sim::testing
