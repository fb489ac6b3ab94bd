// orvik sim: simulated players kept in folders.  This file holds the command
// group and the commands that change a player's settings (faults, mode) or
// show them (info); create, serve and the inspection commands have files of
// their own.
#include <fmt/format.h>

#include "app/bus_timing_options.h"
#include "app/fault_options.h"
#include "app/operations.h"
#include "base/tool_error.h"
#include "player/device_queries.h"
#include "sim/player_json.h"
#include "target/sim_folder.h"

namespace orvik::tool {

int RunSimFaults(OperationContext& context, bool clear, const FaultOptions& faults,
                 const BusTimingOptions& bus) {
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  sim::PlayerConfig config = player->Config();
  if (clear) ClearFaults(&config);
  try {
    ApplyFaultOptions(faults, &config);
  } catch (const std::invalid_argument& bad) {
    Fail("usage", std::string(bad.what()) + ".", {}, "See `orvik sim faults --help`.");
  }
  ApplyBusTimingOptions(bus, &config.bus);
  player->SetFaults(config.faults);
  player->SetCard(config.card);
  player->SetDriverSettings(config.driver);
  player->SetBusTiming(config.bus);
  const size_t pending = PendingFaultCount(config);
  context.result = PlayerJson(*player, dir);
  context.result["pendingFaults"] = pending;
  context.result["busTiming"] = BusTimingText(config.bus);
  context.events.Line(
      fmt::format("The player in {} has {} fault setting{} pending; transfer "
                  "numbers count from the next command.",
                  dir, pending, pending == 1 ? "" : "s"));
  if (bus.Given()) context.events.Line("Bus timing: " + BusTimingText(config.bus) + ".");
  SavePlayerFolder(context, *player);
  return kExitDone;
}

// --recovery-mode forces recovery mode; --normal-mode lifts the force, and
// the startup check decides again (as it did when this command plugged the
// player in).
int RunSimMode(OperationContext& context, bool recovery) {
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  const bool was = player->Config().recoveryMode;
  player->SetRecoveryMode(recovery);
  context.result = PlayerJson(*player, dir);
  const sim::Player::StartState start = player->Startup();
  const std::string how =
      recovery ? std::string("in recovery mode, forced")
               : "in normal mode: the startup check decides at each plug-in, and now it starts " +
                     std::string(start.mode == sim::StartMode::kNormal ? "normally"
                                                                       : "as its recovery device") +
                     " (" + start.reason + ")";
  context.events.Line(fmt::format("The player in {} {} {}; its device object is {}.", dir,
                                  was == recovery ? "stays" : "is now", how, player->ObjectName()));
  SavePlayerFolder(context, *player);
  return was == recovery ? kExitNothingToDo : kExitDone;
}

// What the player was made with, read from its folder (not asked through
// the library, as `orvik info` does).
int RunSimInfo(OperationContext& context) {
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  const sim::PlayerConfig config = player->Config();
  const sim::FlashIdCodes codes = config.idCodes.value_or(sim::DefaultIdCodes(config.flashType));
  uint32_t written = 0;
  for (uint32_t block = 0; block < player->BlockCount(); ++block)
    if (!player->IsBlockErased(block)) ++written;
  const size_t pending = PendingFaultCount(config);
  context.result = PlayerJson(*player, dir);
  context.result["settings"] = nlohmann::json::parse(sim::PlayerConfigToJson(config));
  context.result["typeFromCodes"] = sim::FlashTypeForIdCodes(codes);
  context.result["blocksNotErased"] = written;
  context.result["pendingFaults"] = pending;

  Events& console = context.events;
  console.Field("device object", player->ObjectName());
  console.Field(
      "flash", fmt::format("type {}: {} blocks of {} pages, {} blocks not erased", config.flashType,
                           player->BlockCount(), player->PagesPerBlock(), written));
  console.Field("read ID", fmt::format("maker {:#04x}, device {:#04x} (identify type {})",
                                       codes.maker, codes.device, sim::FlashTypeForIdCodes(codes)));
  console.Field("factory bad", fmt::format("{} blocks", config.factoryBadBlocks.size()));
  console.Field("firmware", fmt::format("DCC version {:#x}, tag 0 {:#x}, chip revision {:#08x}",
                                        config.dccVersion, config.infoTag0, config.chipRevision));
  console.Field(
      "card", config.card.present
                  ? fmt::format("{} blocks ({}), erase group {} blocks", config.card.capacityBlocks,
                                MegaBytes(uint64_t{config.card.capacityBlocks} * 512),
                                unsigned{config.card.eraseGroupBlocks})
                  : std::string("none"));
  console.Field("faults", fmt::format("{} pending, seed {}", pending, config.seed));
  const sim::Player::StartState start = player->Startup();
  console.Field("starts", fmt::format("{}: {}", sim::StartModeName(start.mode), start.reason));
  console.Field("bus timing", BusTimingText(config.bus));
  context.result["busTiming"] = BusTimingText(config.bus);
  return kExitDone;
}

}  // namespace orvik::tool
