// A fixture that runs the library through its exports against a simulated
// player registered in this process.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "orvik/orvik.h"
#include "sim/player.h"
#include "support/test_os.h"

namespace orvik::testing {

// The flash commands as Frames counts them: class and operation, without
// the direction bits.
inline constexpr uint32_t CMD_FLASH_WRITE_PAGE = 0x0100;
inline constexpr uint32_t CMD_FLASH_WRITE_PAGES = 0x0101;
inline constexpr uint32_t CMD_FLASH_READ_PAGES = 0x0103;
inline constexpr uint32_t CMD_FLASH_ERASE_BLOCK = 0x0104;
inline constexpr uint32_t CMD_FLASH_READ_BLOCK_MARKS = 0x010C;

class SimPlayerTest : public ::testing::Test {
 protected:
  ~SimPlayerTest() override {
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    if (player_) player_->Unregister();
  }

  // Creates the player, registers it and opens it with the description read.
  void StartPlayer(const sim::PlayerConfig& config) {
    player_ = sim::Player::Create(config);
    player_->Register();
    ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  }
  void StartPlayer(uint32_t flashType) {
    sim::PlayerConfig config;
    config.flashType = flashType;
    StartPlayer(config);
  }

  // Sets the registry reservation, in kilobytes (0: absent).
  void Reserve(uint32_t kilobytes) { os_.registry = os::RegistryDword{kilobytes != 0, kilobytes}; }
  void ReserveBlocks(uint32_t blocks, uint32_t blockBytes) {
    Reserve(static_cast<uint32_t>(uint64_t{blocks} * blockBytes / 1024));
  }

  static _BinaryFilesInformation Files(const std::string& tags) {
    _BinaryFilesInformation files;
    std::memset(&files, 0, sizeof files);
    files.fileCount = static_cast<ORVIK_ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) files.fileTags[i] = static_cast<uint8_t>(tags[i]);
    files.lowAreaFile = 1;
    return files;
  }

  // Frames received of a command (class and operation, e.g.
  // CMD_FLASH_READ_BLOCK_MARKS).
  uint64_t Frames(uint32_t operation) const {
    auto stats = player_->Stats();
    uint64_t count = 0;
    for (auto& [word, frames] : stats.framesByCommand)
      if ((word & 0xFFFF) == operation) count += frames;
    return count;
  }

  // Raw page of a block, 528 bytes.
  sim::RawPage Page(uint32_t block, uint32_t page) const {
    return player_->ReadPage(block * player_->PagesPerBlock() + page);
  }
  // Sets spare bytes 4-7 of a block's first page (fixtures).
  void MarkBlock(uint32_t block, uint8_t dataStatus, uint8_t blockStatus, uint8_t a0 = 0xFF,
                 uint8_t a1 = 0xFF, uint32_t page = 0) {
    uint32_t index = block * player_->PagesPerBlock() + page;
    sim::RawPage raw = player_->ReadPage(index);
    raw[512 + 4] = dataStatus;
    raw[512 + 5] = blockStatus;
    raw[512 + 6] = a0;
    raw[512 + 7] = a1;
    player_->SetPageRaw(index, raw);
  }

  TestOs os_;
  std::shared_ptr<sim::Player> player_;
};

}  // namespace orvik::testing
