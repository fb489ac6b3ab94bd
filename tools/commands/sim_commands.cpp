// orvik sim create|serve|mode: making simulated players and serving them as
// device objects.
#include <fmt/format.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "commands/commands.h"
#include "device/device_queries.h"
#include "output/tool_error.h"
#include "protocol/flash_identification.h"
#include "sim/geometry.h"
#include "sim/program/fault_options.h"
#include "target/folder_lock.h"
#ifndef _WIN32
#include "sim/socket_server.h"
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

constexpr long long kLargestCardMiB = 2048;

#ifndef _WIN32
sim::SocketServer* gServing = nullptr;

extern "C" void StopServing(int) {
  if (gServing != nullptr) gServing->RequestStop();
}
#endif

std::string PlayerDir(const CommandContext& context) { return context.global.Target().playerDir; }

nlohmann::json PlayerJson(const sim::Player& player, const std::string& dir) {
  const sim::PlayerConfig config = player.Config();
  nlohmann::json badBlocks = config.factoryBadBlocks;
  return {{"player", dir},
          {"deviceObject", player.ObjectName()},
          {"flashType", config.flashType},
          {"blockCount", player.BlockCount()},
          {"pagesPerBlock", player.PagesPerBlock()},
          {"factoryBadBlocks", badBlocks},
          {"card", config.card.present ? nlohmann::json(config.card.capacityBlocks)
                                       : nlohmann::json(nullptr)},
          {"recoveryMode", config.recoveryMode}};
}

}  // namespace

int RunSimCreate(CommandContext& context, const SimCreateOptions& options) {
  const std::string dir = PlayerDir(context);
  context.target = {{"kind", "simulator"}, {"player", dir}};
  context.console.Line(context.console.Paint(Style::kBold, "Target:") + " simulated player in " +
                       dir);
  if (!sim::IsValidFlashType(options.flashType))
    Fail("usage", fmt::format("--flash-type: {} is not a flash type.", options.flashType), {},
         fmt::format("Give a flash type from 3 to {} (7 is a 64 MB flash).",
                     sim::kFlashTypeCount - 1));
  // The library identifies a flash by its maker and device codes; a type
  // whose codes it does not know would make a player nothing can work on.
  const sim::FlashIdCodes codes = sim::DefaultIdCodes(options.flashType);
  if (protocol::FlashTypeForIdentification(codes.maker, codes.device) != options.flashType)
    Fail("usage",
         fmt::format("--flash-type: the library does not support flash type {} (its chip is not "
                     "one the library identifies).",
                     options.flashType),
         {}, "Give a flash type from 3 to 35 (7 is a 64 MB flash).");
  const uint32_t blockCount = sim::GeometryOfFlashType(options.flashType).blockCount;
  if (options.badBlockCount && *options.badBlockCount > blockCount - 2)
    Fail("usage",
         fmt::format("--bad-block-count: {} is out of range for flash type {}.",
                     *options.badBlockCount, options.flashType),
         {}, fmt::format("Give 0 to {} (the flash has {} blocks).", blockCount - 2, blockCount));
  if (options.cardMiB && (*options.cardMiB < 1 || *options.cardMiB > kLargestCardMiB))
    Fail("usage", fmt::format("--card-mib: {} is out of range.", *options.cardMiB), {},
         fmt::format("Give 1 to {} MiB, or --no-card for an empty slot.", kLargestCardMiB));
  std::error_code error;
  fs::create_directories(dir, error);
  if (error)
    Fail("player-unwritable", fmt::format("The folder {} cannot be made: {}", dir, error.message()),
         "The path is not writable.", "Give a writable folder with --player.");
  HoldFolderLockForThisRun(dir);
  if (fs::exists(fs::path(dir) / "player.json", error) && !options.force)
    Fail("player-exists", "A simulated player already exists in " + dir + ".",
         "Creating a player replaces its flash and card.",
         "Give --force to replace it, or another folder with --player.");
  sim::PlayerConfig config;
  config.flashType = options.flashType;
  config.seed = options.seed;
  config.instance = options.instance;
  config.recoveryMode = options.recovery;
  try {
    config.factoryBadBlocks = sim::program::ParseNumberList(options.badBlocks, "bad block");
    uint32_t randomBad = options.badBlockCount.value_or(options.badBlocks.empty() ? 2 : 0);
    for (uint32_t block : sim::PickFactoryBadBlocks(options.flashType, randomBad, options.seed))
      config.factoryBadBlocks.push_back(block);
    if (options.noCard) {
      config.card.present = false;
      config.card.capacityBlocks = 0;
    } else if (options.cardMiB) {
      config.card.capacityBlocks = static_cast<uint32_t>(*options.cardMiB * 2048);
    }
    sim::program::ApplyFaultOptions(options.faults, &config);
  } catch (const std::invalid_argument& bad) {
    Fail("usage", std::string(bad.what()) + ".", {}, "See `orvik sim create --help`.");
  }
  std::shared_ptr<sim::Player> player;
  try {
    player = sim::Player::Create(config);
  } catch (const std::exception& bad) {
    Fail("usage", std::string("The player cannot be made: ") + bad.what() + ".", {},
         "Give factory bad blocks inside the flash.");
  }
  fs::create_directories(dir, error);
  std::string why;
  if (!player->Save(dir, &why))
    Fail("player-unwritable", "The player cannot be saved in " + dir + ": " + why,
         "The folder is not writable.", "Give a writable folder with --player.");
  context.result = PlayerJson(*player, dir);
  Console& console = context.console;
  console.Line(console.Paint(Style::kGood, "Created") +
               fmt::format(" a simulated player in {}: flash type {} ({} blocks of {} pages), {} "
                           "factory bad blocks, {}{}.",
                           dir, config.flashType, player->BlockCount(), player->PagesPerBlock(),
                           config.factoryBadBlocks.size(),
                           config.card.present
                               ? MegaBytes(uint64_t{config.card.capacityBlocks} * 512) + " card"
                               : std::string("no card"),
                           config.recoveryMode ? ", in recovery mode" : ""));
  return kExitDone;
}

int RunSimServe(CommandContext& context, const std::string& deviceDirOption, bool save) {
#ifdef _WIN32
  // Device objects of other processes are the driver's on Windows: there is
  // no socket folder to serve a simulated player in.
  (void)context;
  (void)deviceDirOption;
  (void)save;
  Fail("unsupported", "Serving a simulated player needs Unix sockets, which this build lacks.",
       "On Windows a simulated player is reached in-process with --player.",
       "Run the command with --player DIR instead of --device.");
#else
  const std::string dir = PlayerDir(context);
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  std::string deviceDir = deviceDirOption;
  if (deviceDir.empty()) {
    const char* fromEnvironment = std::getenv("ORVIK_DEVICE_DIR");
    if (fromEnvironment == nullptr || fromEnvironment[0] == '\0')
      Fail("usage", "There is no folder to serve the player's device object in.",
           "Neither --device-dir nor ORVIK_DEVICE_DIR is given.",
           "Give --device-dir DIR (and set ORVIK_DEVICE_DIR=DIR for the programs that use it).");
    deviceDir = fromEnvironment;
  }
  fs::create_directories(deviceDir);
  Console& console = context.console;
  if (console.Verbose())
    player->SetTrace([&console](const sim::TraceEvent& event) {
      console.Step("player: " + sim::FormatTraceEvent(event));
    });
  auto saveNow = [&] {
    std::string why;
    if (save && !player->Save(dir, &why)) console.Warn("the player could not be saved: " + why);
  };
  sim::SocketServer* active = nullptr;
  sim::SocketServer::Options serverOptions;
  serverOptions.deviceDir = deviceDir;
  serverOptions.onClientClosed = [&] {
    saveNow();
    console.Step("client closed; player saved");
    if (player->PowerLost() && active != nullptr) active->RequestStop();
  };
  sim::SocketServer server(player, serverOptions);
  active = &server;
  std::string error;
  if (!server.Listen(&error))
    Fail("serve", "The player cannot be served: " + error,
         error.find("in use") != std::string::npos
             ? "Another orvik sim serve (or orvik-sim) serves a player of the same device "
               "object name in this folder."
             : "The folder is not writable.",
         "Stop the other server, or give another --device-dir (or give each player its own "
         "--instance number when it is created).");
  gServing = &server;
  std::signal(SIGINT, StopServing);
  std::signal(SIGTERM, StopServing);
  // Said at once, so that scripts can wait for this line before they connect.
  console.Line(
      fmt::format("Serving {} at {} (Ctrl-C stops; use --device with "
                  "ORVIK_DEVICE_DIR={}).",
                  player->ObjectName(), server.SocketPath(), deviceDir));
  server.Serve();
  gServing = nullptr;
  saveNow();
  context.result = {{"deviceObject", player->ObjectName()},
                    {"socket", server.SocketPath()},
                    {"saved", save},
                    {"powerLost", player->PowerLost()}};
  console.Line("Stopped serving" + std::string(save ? "; the player is saved." : "."));
  return kExitDone;
#endif
}

int RunSimFaults(CommandContext& context, bool clear, const sim::program::FaultOptions& faults) {
  const std::string dir = PlayerDir(context);
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  sim::PlayerConfig config = player->Config();
  if (clear) {
    config.faults = sim::FaultConfig{};
    config.card.failingCommands.clear();
  }
  try {
    sim::program::ApplyFaultOptions(faults, &config);
  } catch (const std::invalid_argument& bad) {
    Fail("usage", std::string(bad.what()) + ".", {}, "See `orvik sim faults --help`.");
  }
  player->SetFaults(config.faults);
  player->SetCard(config.card);
  std::string why;
  if (!player->Save(dir, &why))
    Fail("player-unwritable", "The player cannot be saved in " + dir + ": " + why,
         "The folder is not writable.", "Give a writable folder with --player.");
  const sim::FaultConfig& set = config.faults;
  const size_t pending = set.eraseFailures.size() + set.weakPages.size() +
                         set.transferFaults.size() + (set.powerCutAfterTransfer ? 1 : 0) +
                         (set.readBitFlipProbability > 0 ? 1 : 0) +
                         config.card.failingCommands.size();
  context.result = PlayerJson(*player, dir);
  context.result["pendingFaults"] = pending;
  context.console.Line(
      fmt::format("The player in {} has {} fault setting{} pending; transfer "
                  "numbers count from the next command.",
                  dir, pending, pending == 1 ? "" : "s"));
  return kExitDone;
}

int RunSimMode(CommandContext& context, bool recovery) {
  const std::string dir = PlayerDir(context);
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  const bool was = player->Config().recoveryMode;
  player->SetRecoveryMode(recovery);
  std::string why;
  if (!player->Save(dir, &why))
    Fail("player-unwritable", "The player cannot be saved in " + dir + ": " + why,
         "The folder is not writable.", "Give a writable folder with --player.");
  context.result = PlayerJson(*player, dir);
  context.console.Line(fmt::format("The player in {} {} in {} mode: its device object is {}.", dir,
                                   was == recovery ? "stays" : "is now",
                                   recovery ? "recovery" : "normal", player->ObjectName()));
  return was == recovery ? kExitNothingToDo : kExitDone;
}

}  // namespace orvik::tool
