// A player kept in a folder comes back byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/player_json.h"
#include "sim_helpers.h"

namespace orvik::sim::testing {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("orvik-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string str() const { return path_.string(); }
  fs::path path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

PlayerConfig Unusual(uint32_t flashType) {
  PlayerConfig config;
  config.flashType = flashType;
  config.idCodes = FlashIdCodes{0x98, 0x73};
  config.infoTag0 = 0x100;
  config.dccVersion = 0x100;
  config.extraInfoItems = {{7, 0x777}};
  config.powerWord = 9;
  config.instance = 3;
  config.driver.versionWord = 0x321;
  config.driver.reconfigureRefusals = 4;
  config.card.capacityBlocks = 4096;
  config.card.eraseGroupBlocks = 16;
  config.card.failingCommands = {3};
  config.factoryBadBlocks = {2, 200};
  config.faults.eraseFailures = {{5, 2}};
  config.faults.weakPages = {{70, 0}};
  config.faults.readBitFlipProbability = 0.25;
  config.faults.transferFaults.push_back(TransferFault{4, TransferFault::Kind::kLate, 1200, 31});
  config.faults.powerCutAfterTransfer = 50;
  config.seed = 99;
  return config;
}

TEST(Persistence, RoundTripIsByteForByte) {
  for (uint32_t type : {0u, 1u, 3u}) {
    TempDir dir;
    auto player = Player::Create(Unusual(type));
    uint32_t pages = player->PageCount();
    for (uint32_t page = 0; page < pages; page += 37) player->SetPageRaw(page, PatternPage(page));
    CardBlock block;
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i ^ 0x5C);
    player->WriteCardBlock(4095, block);
    std::string error;
    ASSERT_TRUE(player->Save(dir.str(), &error)) << error;
    EXPECT_EQ(fs::file_size(dir.path() / "nand.bin"), uint64_t{pages} * 528);
    EXPECT_EQ(fs::file_size(dir.path() / "mmc.bin"), 4096u * 512);
    EXPECT_FALSE(fs::exists(dir.path() / "nand.bin.tmp"));

    auto loaded = Player::Load(dir.str(), &error);
    ASSERT_NE(loaded, nullptr) << error;
    for (uint32_t page = 0; page < pages; ++page)
      ASSERT_EQ(loaded->ReadPage(page), player->ReadPage(page))
          << "type " << type << " page " << page;
    EXPECT_EQ(loaded->ReadCardBlock(4095), block);
    EXPECT_EQ(PlayerConfigToJson(loaded->Config()), PlayerConfigToJson(player->Config()));
    EXPECT_EQ(loaded->ObjectName(), "TEMBROr3");
  }
}

TEST(Persistence, DumpLayoutAndCardImageAreRawFiles) {
  TempDir dir;
  PlayerConfig config;
  config.flashType = 0;
  config.card.capacityBlocks = 2048;
  auto player = Player::Create(config);
  player->SetPageRaw(9, PatternPage(9));
  CardBlock block;
  block.fill(0x42);
  player->WriteCardBlock(1, block);
  std::string error;
  ASSERT_TRUE(player->Save(dir.str(), &error)) << error;

  std::ifstream nand(dir.path() / "nand.bin", std::ios::binary);
  nand.seekg(9 * 528);
  RawPage page{};
  nand.read(reinterpret_cast<char*>(page.data()), 528);
  EXPECT_EQ(page, PatternPage(9));
  std::ifstream card(dir.path() / "mmc.bin", std::ios::binary);
  std::vector<char> first(1024);
  card.read(first.data(), 1024);
  EXPECT_EQ(first[511], 0);
  EXPECT_EQ(first[512], 0x42);
}

TEST(Persistence, PendingFaultsAndCountersAreStoredRelativeToTheRun) {
  TempDir dir;
  auto player = Player::Create(Unusual(3));
  Link link(player);
  for (int i = 0; i < 3; ++i) link.Ask(Words({0x00000A}), 3);  // the late fault fires at 4
  link.Ask(EraseFrame(5, 16), 6);  // one of two good erases of block 5 used
  std::string error;
  ASSERT_TRUE(player->Save(dir.str(), &error)) << error;
  auto loaded = Player::Load(dir.str(), &error);
  ASSERT_NE(loaded, nullptr) << error;
  FaultConfig faults = loaded->Faults();
  EXPECT_TRUE(faults.transferFaults.empty());
  EXPECT_EQ(faults.powerCutAfterTransfer, 50u - 8);
  EXPECT_EQ(faults.eraseFailures.at(5), 1u);
  EXPECT_EQ(loaded->DriverSettings().reconfigureRefusals, 4u);
  EXPECT_EQ(loaded->UserData().ownerFlag, 0u);
}

TEST(Persistence, AnUnchangedPlayerSavesItsSettingsOnlyAndBrokenFoldersAreRefused) {
  TempDir dir;
  auto player = Player::Create(PlayerConfig{});
  std::string error;
  ASSERT_TRUE(player->Save(dir.str(), &error)) << error;
  auto stamp = fs::last_write_time(dir.path() / "nand.bin");
  auto loaded = Player::Load(dir.str(), &error);
  ASSERT_NE(loaded, nullptr);
  ASSERT_TRUE(loaded->Save(dir.str(), &error));
  EXPECT_EQ(fs::last_write_time(dir.path() / "nand.bin"), stamp);
  loaded->EraseBlock(0);
  loaded->SetPageRaw(0, PatternPage(0));
  ASSERT_TRUE(loaded->Save(dir.str(), &error));
  EXPECT_EQ(Player::Load(dir.str(), &error)->ReadPage(0), PatternPage(0));

  fs::resize_file(dir.path() / "nand.bin", 528 * 10);
  EXPECT_EQ(Player::Load(dir.str(), &error), nullptr);
  EXPECT_NE(error.find("nand.bin"), std::string::npos);
  std::ofstream(dir.path() / "player.json") << "{\"flash\": {\"type\": 40}}";
  EXPECT_EQ(Player::Load(dir.str(), &error), nullptr);
  EXPECT_NE(error.find("flash type"), std::string::npos);
  EXPECT_EQ(Player::Load((dir.path() / "nowhere").string(), &error), nullptr);
}

}  // namespace
}  // namespace orvik::sim::testing
