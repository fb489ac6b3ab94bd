#include "target/sim_folder.h"

#include "base/tool_error.h"
#include "sim/player_json.h"

namespace orvik::tool {

nlohmann::json PlayerJson(const sim::Player& player, const std::string& dir) {
  const sim::PlayerConfig config = player.Config();
  nlohmann::json badBlocks = config.factoryBadBlocks;
  const sim::Player::StartState start = player.Startup();
  return {{"player", dir},
          {"deviceObject", player.ObjectName()},
          {"flashType", config.flashType},
          {"blockCount", player.BlockCount()},
          {"pagesPerBlock", player.PagesPerBlock()},
          {"factoryBadBlocks", badBlocks},
          {"card", config.card.present ? nlohmann::json(config.card.capacityBlocks)
                                       : nlohmann::json(nullptr)},
          {"recoveryMode", config.recoveryMode},
          {"start",
           {{"mode", sim::StartModeName(start.mode)},
            {"reason", start.reason},
            {"forced", start.forced},
            {"factoryStart", config.factoryStart},
            {"plugIns", start.plugIns}}}};
}

void SavePlayer(const sim::Player& player, const std::string& dir) {
  std::string why;
  if (!player.Save(dir, &why))
    Fail("player-unwritable", "The player cannot be saved in " + dir + ": " + why,
         "The folder is not writable.", "Give a writable folder with --player.");
}

}  // namespace orvik::tool
