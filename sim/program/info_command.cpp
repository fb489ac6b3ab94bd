// orvik-sim info: a short description of a player.
#include <iostream>
#include <nlohmann/json.hpp>

#include "sim/player.h"
#include "sim/player_json.h"
#include "sim/program/commands.h"

namespace orvik::sim::program {

int RunInfo(const std::string& folder, bool json) {
  std::string error;
  std::shared_ptr<Player> player = Player::Load(folder, &error);
  if (player == nullptr) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  PlayerConfig config = player->Config();
  FlashIdCodes codes = config.idCodes ? *config.idCodes : DefaultIdCodes(config.flashType);
  uint32_t used = 0;
  for (uint32_t block = 0; block < player->BlockCount(); ++block)
    if (!player->IsBlockErased(block)) ++used;
  const FaultConfig& faults = config.faults;
  size_t pendingFaults = faults.eraseFailures.size() + faults.weakPages.size() +
                         faults.transferFaults.size() + (faults.powerCutAfterTransfer ? 1 : 0) +
                         (faults.readBitFlipProbability > 0 ? 1 : 0) +
                         config.card.failingCommands.size();

  if (json) {
    nlohmann::json out = nlohmann::json::parse(PlayerConfigToJson(config));
    out["objectName"] = player->ObjectName();
    out["flash"]["blockCount"] = player->BlockCount();
    out["flash"]["pagesPerBlock"] = player->PagesPerBlock();
    out["flash"]["typeFromCodes"] = FlashTypeForIdCodes(codes);
    out["flash"]["blocksNotErased"] = used;
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  std::cout << "device object   " << player->ObjectName() << "\n";
  std::cout << "flash           type " << config.flashType << ": " << player->BlockCount()
            << " blocks of " << player->PagesPerBlock() << " pages, " << used
            << " blocks not erased\n";
  std::printf("read ID         maker 0x%02X device 0x%02X (identifies type %u)\n", codes.maker,
              codes.device, FlashTypeForIdCodes(codes));
  std::cout << "factory bad     " << config.factoryBadBlocks.size() << " blocks\n";
  std::printf("firmware        DCC version 0x%X, tag 0 0x%X, chip revision 0x%06X\n",
              config.dccVersion, config.infoTag0, config.chipRevision);
  if (config.card.present)
    std::cout << "card            " << config.card.capacityBlocks << " blocks ("
              << config.card.capacityBlocks / 2048 << " MiB), erase group "
              << unsigned(config.card.eraseGroupBlocks) << " blocks\n";
  else
    std::cout << "card            none\n";
  std::cout << "faults          "
            << (pendingFaults == 0 ? std::string("none") : std::to_string(pendingFaults) + " set")
            << ", seed " << config.seed << "\n";
  return 0;
}

}  // namespace orvik::sim::program
