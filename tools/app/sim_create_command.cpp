// orvik sim create: a new simulated player in a folder, with its flash,
// card, identity, firmware description and pending faults.
#include <fmt/format.h>

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "app/bus_timing_options.h"
#include "app/fault_options.h"
#include "app/operations.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "player/device_queries.h"
#include "sim/geometry.h"
#include "target/folder_lock.h"
#include "target/sim_folder.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

// A number of at most `bits` bits, or a usage failure naming the option.
uint32_t SmallNumber(const std::string& text, const char* option, uint32_t bits) {
  unsigned long long value = 0;
  try {
    value = ParseNumber(text, option);
  } catch (const std::invalid_argument& bad) {
    Fail("usage", std::string(bad.what()) + ".", {}, "See `orvik sim create --help`.");
  }
  if (value >> bits != 0)
    Fail("usage", fmt::format("{}: {} does not fit in {} bits.", option, text, bits), {},
         "See `orvik sim create --help`.");
  return static_cast<uint32_t>(value);
}

// The codes the player answers to read-ID: the type's own unless given.
std::optional<sim::FlashIdCodes> GivenIdCodes(const SimCreateOptions& options) {
  if (options.makerCode.empty() && options.deviceCode.empty()) return std::nullopt;
  sim::FlashIdCodes codes = sim::DefaultIdCodes(options.flashType);
  if (!options.makerCode.empty())
    codes.maker = static_cast<uint8_t>(SmallNumber(options.makerCode, "--maker-code", 8));
  if (!options.deviceCode.empty())
    codes.device = static_cast<uint8_t>(SmallNumber(options.deviceCode, "--device-code", 8));
  return codes;
}

void CheckSizes(const SimCreateOptions& options) {
  const uint32_t blockCount = sim::GeometryOfFlashType(options.flashType).blockCount;
  if (options.badBlockCount && *options.badBlockCount > blockCount - 2)
    Fail("usage",
         fmt::format("--bad-block-count: {} is out of range for flash type {}.",
                     *options.badBlockCount, options.flashType),
         {}, fmt::format("Give 0 to {} (the flash has {} blocks).", blockCount - 2, blockCount));
  if (options.cardMiB && (*options.cardMiB < 1 || *options.cardMiB > kLargestCardMiB))
    Fail("usage", fmt::format("--card-mib: {} is out of range.", *options.cardMiB), {},
         fmt::format("Give 1 to {} MiB, or --no-card for an empty slot.", kLargestCardMiB));
  if (options.cardBlocks && (*options.cardBlocks < 1 || *options.cardBlocks > kLargestCardBlocks))
    Fail("usage", fmt::format("--card-blocks: {} is out of range.", *options.cardBlocks), {},
         fmt::format("Give 1 to {} blocks, or --no-card for an empty slot.", kLargestCardBlocks));
}

// The player's settings from the options that need no parsing beyond
// CLI11's; throws std::invalid_argument on a malformed list or fault.
sim::PlayerConfig ConfigFromOptions(const SimCreateOptions& options,
                                    std::optional<sim::FlashIdCodes> codes) {
  sim::PlayerConfig config;
  config.flashType = options.flashType;
  config.idCodes = codes;
  config.seed = options.seed;
  config.instance = options.instance;
  config.recoveryMode = options.recovery;
  config.factoryStart = !options.unprogrammed;
  if (!options.dccVersion.empty())
    config.dccVersion = SmallNumber(options.dccVersion, "--dcc-version", 24);
  if (!options.infoTag0.empty()) config.infoTag0 = SmallNumber(options.infoTag0, "--info-tag0", 24);
  if (!options.infoTag2.empty()) config.infoTag2 = SmallNumber(options.infoTag2, "--info-tag2", 24);
  config.factoryBadBlocks = ParseNumberList(options.badBlocks, "bad block");
  uint32_t randomBad = options.badBlockCount.value_or(options.badBlocks.empty() ? 2 : 0);
  for (uint32_t block : sim::PickFactoryBadBlocks(options.flashType, randomBad, options.seed))
    config.factoryBadBlocks.push_back(block);
  if (options.noCard) {
    config.card.present = false;
    config.card.capacityBlocks = 0;
  } else if (options.cardBlocks) {
    config.card.capacityBlocks = static_cast<uint32_t>(*options.cardBlocks);
  } else if (options.cardMiB) {
    config.card.capacityBlocks = static_cast<uint32_t>(*options.cardMiB * 2048);
  }
  ApplyFaultOptions(options.faults, &config);
  ApplyBusTimingOptions(options.bus, &config.bus);
  return config;
}

// The settings, or a usage failure naming what is malformed.
sim::PlayerConfig CheckedConfig(const SimCreateOptions& options,
                                const std::optional<sim::FlashIdCodes>& givenCodes) {
  try {
    return ConfigFromOptions(options, givenCodes);
  } catch (const std::invalid_argument& bad) {
    Fail("usage", std::string(bad.what()) + ".", {}, "See `orvik sim create --help`.");
  }
}

// The library identifies a flash by its maker and device codes; a type
// whose codes it does not know would make a player nothing can work on.
// Codes given on the command line are taken as meant.
std::optional<sim::FlashIdCodes> CheckedIdCodes(const SimCreateOptions& options) {
  if (!sim::IsValidFlashType(options.flashType))
    Fail("usage", fmt::format("--flash-type: {} is not a flash type.", options.flashType), {},
         fmt::format("Give a flash type from 3 to {} (7 is a 64 MB flash).",
                     sim::kFlashTypeCount - 1));
  const std::optional<sim::FlashIdCodes> givenCodes = GivenIdCodes(options);
  const sim::FlashIdCodes codes = sim::DefaultIdCodes(options.flashType);
  if (!givenCodes && host::FlashTypeForChip(codes.maker, codes.device) != options.flashType)
    Fail("usage",
         fmt::format("--flash-type: the library does not support flash type {} (its chip is not "
                     "one the library identifies).",
                     options.flashType),
         {}, "Give a flash type from 3 to 35 (7 is a 64 MB flash).");
  return givenCodes;
}

// --dry-run: the player that would be made, and what it would replace;
// nothing is made, locked or written.
int DescribeCreation(OperationContext& context, const SimCreateOptions& options,
                     const std::optional<sim::FlashIdCodes>& givenCodes, const std::string& dir) {
  std::error_code error;
  const bool exists = fs::exists(fs::path(dir) / "player.json", error);
  if (exists && !options.force)
    Fail("player-exists", "A simulated player already exists in " + dir + ".",
         "Creating a player replaces its flash and card.",
         "Give --force to replace it, or another folder with --player.");
  (void)CheckedConfig(options, givenCodes);
  context.result = {
      {"player", dir}, {"flashType", options.flashType}, {"dryRun", true}, {"replaces", exists}};
  context.events.Line(
      context.events.Paint(Style::kBold, "Dry run:") +
      fmt::format(" would {} a simulated player with a flash of type {} in {}{}; nothing was "
                  "written.",
                  exists ? "replace the player (its flash and card) with" : "create",
                  options.flashType, dir, exists ? "" : ""));
  return kExitDone;
}

// The folder, made and locked for this run; an existing player in it is
// replaced only with --force.
void PrepareSimFolder(const SimCreateOptions& options, const std::string& dir) {
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
}

std::shared_ptr<sim::Player> MakeSimPlayer(const sim::PlayerConfig& config) {
  try {
    return sim::Player::Create(config);
  } catch (const std::exception& bad) {
    Fail("usage", std::string("The player cannot be made: ") + bad.what() + ".", {},
         "Give factory bad blocks inside the flash.");
  }
}

// How the new player comes up: it is not plugged in here; the next command
// plugs it in.
void PrintHowItStarts(Events& console, const sim::Player& player, const sim::PlayerConfig& config) {
  if (config.recoveryMode)
    console.Line("It comes up as its recovery device " + player.ObjectName() +
                 " until `orvik sim mode --normal-mode` lifts the force.");
  else if (config.factoryStart)
    console.Line(
        "Plugged in, it starts normally, as delivered, until it first holds a whole startup "
        "copy; from then on its startup check decides.");
  else
    console.Line(
        fmt::format("It holds no startup copy: plugged in, it comes up as its recovery device "
                    "OrvikRecDevice{} until a full reflash through it (--recovery) writes one.",
                    config.instance));
}

void PrintCreated(Events& console, const sim::Player& player, const sim::PlayerConfig& config,
                  const std::string& dir) {
  console.Line(console.Paint(Style::kGood, "Created") +
               fmt::format(" a simulated player in {}: flash type {} ({} blocks of {} pages), {} "
                           "factory bad blocks, {}{}.",
                           dir, config.flashType, player.BlockCount(), player.PagesPerBlock(),
                           config.factoryBadBlocks.size(),
                           config.card.present
                               ? MegaBytes(uint64_t{config.card.capacityBlocks} * 512) + " card"
                               : std::string("no card"),
                           config.recoveryMode ? ", in recovery mode" : ""));
  PrintHowItStarts(console, player, config);
  if (config.bus.enabled) console.Line("Bus timing: " + BusTimingText(config.bus) + ".");
}

}  // namespace

int RunSimCreate(OperationContext& context, const SimCreateOptions& options) {
  const std::string dir = context.settings.Target().playerDir;
  context.target = {{"kind", "simulator"}, {"player", dir}};
  context.events.Line(context.events.Paint(Style::kBold, "Target:") + " simulated player in " +
                      dir);
  const std::optional<sim::FlashIdCodes> givenCodes = CheckedIdCodes(options);
  CheckSizes(options);
  if (context.settings.dryRun) return DescribeCreation(context, options, givenCodes, dir);
  PrepareSimFolder(options, dir);
  const sim::PlayerConfig config = CheckedConfig(options, givenCodes);
  std::shared_ptr<sim::Player> player = MakeSimPlayer(config);
  std::error_code error;
  fs::create_directories(dir, error);
  SavePlayer(*player, dir);
  context.result = PlayerJson(*player, dir);
  PrintCreated(context.events, *player, config, dir);
  return kExitDone;
}

}  // namespace orvik::tool
