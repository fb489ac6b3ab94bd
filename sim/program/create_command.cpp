// orvik-sim create and orvik-sim faults.
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "sim/player.h"
#include "sim/program/commands.h"

namespace orvik::sim::program {
namespace {

uint32_t Word24(const std::string& text, const char* what) {
  unsigned long long value = ParseNumber(text, what);
  if (value > 0xFFFFFF) throw std::invalid_argument(std::string(what) + " must fit in 24 bits");
  return static_cast<uint32_t>(value);
}

uint8_t Byte(const std::string& text, const char* what) {
  unsigned long long value = ParseNumber(text, what);
  if (value > 0xFF) throw std::invalid_argument(std::string(what) + " must fit in a byte");
  return static_cast<uint8_t>(value);
}

PlayerConfig ConfigFromOptions(const CreateOptions& options) {
  PlayerConfig config;
  if (!IsValidFlashType(options.flashType))
    throw std::invalid_argument("flash types run from 0 to 35");
  config.flashType = options.flashType;
  if (!options.maker.empty() || !options.device.empty()) {
    FlashIdCodes codes = DefaultIdCodes(options.flashType);
    if (!options.maker.empty()) codes.maker = Byte(options.maker, "maker code");
    if (!options.device.empty()) codes.device = Byte(options.device, "device code");
    config.idCodes = codes;
  }
  config.seed = options.seed;
  config.factoryBadBlocks = ParseNumberList(options.badBlocks, "bad block");
  if (options.badBlockCount > 0) {
    for (uint32_t block :
         PickFactoryBadBlocks(options.flashType, options.badBlockCount, options.seed))
      config.factoryBadBlocks.push_back(block);
  }
  if (!options.dccVersion.empty()) config.dccVersion = Word24(options.dccVersion, "DCC version");
  if (!options.infoTag0.empty()) config.infoTag0 = Word24(options.infoTag0, "tag 0");
  if (!options.infoTag2.empty()) config.infoTag2 = Word24(options.infoTag2, "tag 2");
  if (options.instance < 0 || options.instance > 99)
    throw std::invalid_argument("instance numbers run from 0 to 99");
  config.instance = options.instance;
  config.recoveryMode = options.recovery;
  if (options.noCard) {
    config.card.present = false;
    config.card.capacityBlocks = 0;
  } else if (options.cardMiB >= 0 || options.cardBlocks >= 0) {
    long long blocks = options.cardBlocks >= 0 ? options.cardBlocks : options.cardMiB * 2048;
    if (blocks <= 0 || blocks > 0xFFFFFFFFll) throw std::invalid_argument("card size out of range");
    config.card.capacityBlocks = static_cast<uint32_t>(blocks);
  }
  ApplyFaultOptions(options.faults, &config);
  return config;
}

}  // namespace

int RunCreate(const CreateOptions& options) {
  namespace fs = std::filesystem;
  if (fs::exists(fs::path(options.player) / "player.json") && !options.force) {
    std::cerr << "orvik-sim: a player exists in " << options.player << " (--force replaces it)\n";
    return 1;
  }
  PlayerConfig config = ConfigFromOptions(options);
  std::shared_ptr<Player> player = Player::Create(config);
  std::string error;
  if (!player->Save(options.player, &error)) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  std::cout << "created " << player->ObjectName() << " in " << options.player << ": flash type "
            << config.flashType << ", " << config.factoryBadBlocks.size() << " factory bad blocks, "
            << (config.card.present ? std::to_string(config.card.capacityBlocks) + " card blocks"
                                    : std::string("no card"))
            << "\n";
  return 0;
}

int RunFaults(const std::string& folder, bool clear, const FaultOptions& faults) {
  std::string error;
  std::shared_ptr<Player> player = Player::Load(folder, &error);
  if (player == nullptr) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  PlayerConfig config = player->Config();
  if (clear) {
    config.faults = FaultConfig{};
    config.card.failingCommands.clear();
    config.driver.reconfigureRefusals = 0;
  }
  ApplyFaultOptions(faults, &config);
  player->SetFaults(config.faults);
  player->SetCard(config.card);
  player->SetDriverSettings(config.driver);
  if (!player->Save(folder, &error)) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  return 0;
}

}  // namespace orvik::sim::program
