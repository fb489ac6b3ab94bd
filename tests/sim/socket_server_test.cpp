// The socket server against the library's own POSIX device channel, and
// the wire protocol seen from a raw socket.
#include "sim/socket_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "orvik/orvik.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

namespace fs = std::filesystem;

class SocketServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvik-sim-sock-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ASSERT_EQ(os::FindRegisteredDevice("TEMBROr0"), nullptr) << "nothing in-process";
    player_ = Player::Create(PlayerConfig{});
    SocketServer::Options options;
    options.deviceDir = dir_.string();
    options.onClientClosed = [this] { ++closedClients_; };
    options.afterReplug = [this] { ++replugs_; };
    server_ = std::make_unique<SocketServer>(player_, options);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    ::setenv("ORVIK_DEVICE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    server_.reset();
    ::unsetenv("ORVIK_DEVICE_DIR");
    fs::remove_all(dir_);
  }

  // A device-information exchange through the library's exports.
  bool AskDeviceInfo(uint8_t* record) {
    unsigned char frame[3] = {0x03, 0x00, 0x00};
    return OrvikDDWrite(frame, 3) == 1 && OrvikDDRead(record, 64) == 1;
  }

  fs::path dir_;
  std::shared_ptr<Player> player_;
  std::unique_ptr<SocketServer> server_;
  std::atomic<int> closedClients_{0};
  std::atomic<int> replugs_{0};
};

TEST_F(SocketServerTest, TheLibrarysChannelTalksToTheServedPlayer) {
  EXPECT_EQ(server_->SocketPath(), (dir_ / "TEMBROr0").string());
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 1);
  _USER_DATA data{};
  ASSERT_EQ(OrvikDDGetStatus(&data), 1);
  EXPECT_EQ(data.ownerFlag, 1u);  // the blocking open's record arrived
  EXPECT_EQ(data.blockingFlag, 1u);
  EXPECT_EQ(OrvikDDGetDeviceStatus(), static_cast<ORVIK_ULONG>(DEVICE_STATUS_NORMAL));
  EXPECT_EQ(OrvikDDGetChipId(), player_->DriverSettings().chipId);

  uint8_t record[64];
  ASSERT_TRUE(AskDeviceInfo(record));
  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[9], 1);                         // tag 1 ...
  EXPECT_EQ(record[12] | record[13] << 8, 0x101);  // ... the DCC version

  // A stalled transfer: the write is answered after 1500 ms, past the
  // library's 1000 ms limit.  The late answer must not be taken for the
  // answer of the next exchange, which works normally.
  player_->AddTransferFault(TransferFault{1, TransferFault::Kind::kLate, 1500, 0});
  unsigned char power[3] = {0x0A, 0, 0};
  EXPECT_EQ(OrvikDDWrite(power, 3), 0);
  std::memset(record, 0, sizeof record);
  ASSERT_TRUE(AskDeviceInfo(record));
  EXPECT_EQ(record[0], 3);
  EXPECT_EQ(record[12] | record[13] << 8, 0x101);
  // A transfer never answered fails too, and the channel goes on.
  player_->AddTransferFault(TransferFault{1, TransferFault::Kind::kStall, 0, 0});
  EXPECT_EQ(OrvikDDWrite(power, 3), 0);
  ASSERT_TRUE(AskDeviceInfo(record));
  EXPECT_EQ(record[0], 3);

  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  EXPECT_EQ(player_->UserData().ownerFlag, 0u);  // the close cleared it
  for (int i = 0; i < 200 && closedClients_.load() == 0; ++i) ::usleep(10000);
  EXPECT_EQ(closedClients_.load(), 1);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
  EXPECT_EQ(player_->InjectedFaults().size(), 2u);
}

TEST_F(SocketServerTest, ADisconnectFailsEveryLaterRequestAndAPowerCutRefusesOpens) {
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 1);
  player_->AddTransferFault(TransferFault{1, TransferFault::Kind::kDisconnect, 0, 0});
  uint8_t record[64];
  EXPECT_FALSE(AskDeviceInfo(record));
  EXPECT_FALSE(AskDeviceInfo(record));
  _USER_DATA data{};
  EXPECT_EQ(OrvikDDGetStatus(&data), 0);
  OrvikDDCloseDriver();

  ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 1);
  FaultConfig faults;
  faults.powerCutAfterTransfer = 2;
  player_->SetFaults(faults);
  EXPECT_TRUE(AskDeviceInfo(record));
  EXPECT_FALSE(AskDeviceInfo(record));
  OrvikDDCloseDriver();
  EXPECT_TRUE(player_->PowerLost());
  // Unplugged: the object is gone until the power comes back.
  for (int i = 0; i < 100 && fs::exists(server_->SocketPath()); ++i) ::usleep(10000);
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 0);
  player_->RestorePower();
  for (int i = 0; i < 100 && !fs::exists(server_->SocketPath()); ++i) ::usleep(10000);
  ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 1);
  EXPECT_TRUE(AskDeviceInfo(record));
  OrvikDDCloseDriver();
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);
}

// A replug drops the clients and serves the object the player now comes up
// as: the blank flash holds no startup copy, so the recovery object.
TEST_F(SocketServerTest, AReplugServesTheObjectThePlayerNowComesUpAs) {
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 1);  // not plugged in yet
  uint8_t record[64];
  ASSERT_TRUE(AskDeviceInfo(record));
  server_->RequestReplug();
  for (int i = 0; i < 300 && replugs_ == 0; ++i) ::usleep(10000);
  ASSERT_EQ(replugs_, 1);
  EXPECT_EQ(server_->SocketPath(), (dir_ / "OrvikRecDevice0").string());
  EXPECT_TRUE(fs::exists(dir_ / "OrvikRecDevice0"));
  EXPECT_FALSE(fs::exists(dir_ / "TEMBROr0"));
  EXPECT_GE(closedClients_, 1);
  EXPECT_FALSE(AskDeviceInfo(record)) << "the handle went with the unplugged device";
  OrvikDDCloseDriver();
  EXPECT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 0);
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_RECOVERY), 1);
  EXPECT_EQ(OrvikDDGetDeviceStatus(), static_cast<ORVIK_ULONG>(DEVICE_STATUS_RECOVERY));
  EXPECT_TRUE(AskDeviceInfo(record));
  OrvikDDCloseDriver();
}

// Raw wire: answers come back in request order, a late one holding back
// those behind it, and control answers carry their output.
TEST_F(SocketServerTest, AnswersKeepRequestOrder) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, server_->SocketPath().c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto request = [](uint8_t op, uint32_t id, uint32_t code, const Bytes& in, uint32_t out) {
    Bytes bytes(20, 0);
    bytes[0] = op;
    auto put = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(4, id);
    put(8, code);
    put(12, static_cast<uint32_t>(in.size()));
    put(16, out);
    bytes.insert(bytes.end(), in.begin(), in.end());
    return bytes;
  };
  player_->AddTransferFault(TransferFault{1, TransferFault::Kind::kLate, 300, 0});
  Bytes all = Concat({request(1, 1, 0, Words({0x00000A}), 0), request(2, 2, 0, {}, 64),
                      request(3, 3, 0x222020, {}, 4)});
  ASSERT_EQ(::send(fd, all.data(), all.size(), 0), static_cast<ssize_t>(all.size()));
  Bytes answers;
  size_t expected = 12 + (12 + 64) + (12 + 4);
  uint8_t chunk[256];
  while (answers.size() < expected) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    ASSERT_GT(n, 0);
    answers.insert(answers.end(), chunk, chunk + n);
  }
  ::close(fd);
  auto word = [&](size_t at) {
    return answers[at] | answers[at + 1] << 8 | answers[at + 2] << 16 | answers[at + 3] << 24;
  };
  EXPECT_EQ(word(0), 1u);  // the late write first
  EXPECT_EQ(word(8), 3u);
  EXPECT_EQ(word(12), 2u);
  EXPECT_EQ(word(20), 64u);
  EXPECT_EQ(answers[24], 1);  // the power word
  EXPECT_EQ(word(88), 3u);
  EXPECT_EQ(word(96), 4u);
  EXPECT_EQ(static_cast<uint32_t>(word(100)), player_->DriverSettings().chipId);
}

// Requests that no host sends (an unknown op, a payload beyond 64 MiB) end
// that connection without touching the player; the server goes on.
TEST_F(SocketServerTest, MalformedRequestsCloseOnlyTheirConnection) {
  auto connectRaw = [this] {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server_->SocketPath().c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  };
  for (Bytes header : {Concat({Bytes{9, 0, 0, 0}, Le32(1), Le32(0), Le32(0), Le32(0)}),
                       Concat({Bytes{1, 0, 0, 0}, Le32(1), Le32(0), Le32(0x7FFFFFFF), Le32(0)})}) {
    int fd = connectRaw();
    ASSERT_EQ(::send(fd, header.data(), header.size(), 0), 20);
    uint8_t byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed, nothing answered
    ::close(fd);
  }
  EXPECT_EQ(player_->TransferCount(), 0u);
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 1);
  uint8_t record[64];
  EXPECT_TRUE(AskDeviceInfo(record));
  OrvikDDCloseDriver();
}

TEST(InProcess, TheLibraryOpensARegisteredPlayer) {
  PlayerConfig config;
  config.instance = 7;
  auto player = Player::Create(config);
  player->Register();
  ASSERT_EQ(OrvikDDOpenDriver(7, 0, DEVICE_STATUS_NORMAL), 1);
  unsigned char frame[3] = {0x0C, 0, 0};
  uint8_t reply[3] = {};
  EXPECT_EQ(OrvikDDWrite(frame, 3), 1);
  EXPECT_EQ(OrvikDDRead(reply, 3), 1);
  EXPECT_EQ(reply[1] | reply[2] << 8, static_cast<int>(CHIP_REPLY_LATER));
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  player->Unregister();
  EXPECT_EQ(player->Stats().protocolViolations, 0u);
  EXPECT_EQ(player->Stats().connectionsOpened, 1u);
}

}  // namespace
}  // namespace orvik::sim::testing
