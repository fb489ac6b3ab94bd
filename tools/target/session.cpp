#include "target/session.h"

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/shell_quote.h"
#include "host/host_internals.h"
#include "orvik/orvik.h"
#include "output/tool_error.h"
#include "target/folder_lock.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kDefaultFlashType = 7;
constexpr uint32_t kDefaultBadBlocks = 2;
constexpr uint64_t kDefaultSeed = 1;

// The first field every player.json the simulator writes holds but this one
// lacks ("" when none is missing or the file is no JSON at all: the
// simulator's reader then says what is wrong).
std::string MissingPlayerFields(const std::string& dir) {
  std::ifstream in(fs::path(dir) / "player.json");
  nlohmann::json settings = nlohmann::json::parse(in, nullptr, false);
  if (settings.is_discarded() || !settings.is_object()) return {};
  for (const char* field : {"format", "flash", "card", "device"})
    if (!settings.contains(field)) return std::string("\"") + field + "\" field";
  if (!settings["flash"].is_object() || !settings["flash"].contains("type"))
    return "\"flash.type\" field";
  return {};
}

}  // namespace

std::string DefaultPlayerDir() {
  if (const char* player = std::getenv("ORVIK_PLAYER"); player != nullptr && player[0] != '\0')
    return player;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] != '\0')
    return (fs::path(data) / "orvik" / "player").string();
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
    return (fs::path(home) / ".local" / "share" / "orvik" / "player").string();
  return "orvik-player";
}

sim::PlayerConfig DefaultPlayerConfig() {
  sim::PlayerConfig config;  // 64 MB flash of type 7, 32 MiB card
  config.flashType = kDefaultFlashType;
  config.seed = kDefaultSeed;
  config.factoryBadBlocks =
      sim::PickFactoryBadBlocks(kDefaultFlashType, kDefaultBadBlocks, kDefaultSeed);
  config.factoryStart = true;  // as delivered, like `orvik sim create`'s players
  return config;
}

std::shared_ptr<sim::Player> LoadPlayer(Console& console, const std::string& dir, bool create) {
  std::error_code error;
  const bool exists = fs::exists(fs::path(dir) / "player.json", error);
  if (exists || create) {
    if (create) fs::create_directories(dir, error);
    HoldFolderLockForThisRun(dir);
  }
  if (!exists && !create) {
    Problem problem;
    problem.code = "no-player";
    problem.message = fmt::format("There is no simulated player in {}.", dir);
    problem.cause =
        fs::exists(dir, error) ? "The folder holds no player.json." : "The folder does not exist.";
    problem.action = fmt::format(
        "Create one with `orvik sim create --player {}`, or give the "
        "folder of an existing player with --player.",
        ShellQuote(dir));
    problem.details = {{"player", dir}};
    throw ToolError(std::move(problem));
  }
  std::string why;
  if (exists) {
    // The simulator fills missing settings with defaults; a player.json
    // without them was not written by it, and would silently become a
    // default player.
    if (std::string missing = MissingPlayerFields(dir); !missing.empty())
      Fail("player-unreadable",
           fmt::format("The simulated player in {} cannot be read: player.json has no {}.", dir,
                       missing),
           "The file was not written by orvik sim create, or was damaged.",
           fmt::format("Create a new one with `orvik sim create --force --player {}`.",
                       ShellQuote(dir)));
    std::shared_ptr<sim::Player> player = sim::Player::Load(dir, &why);
    if (player == nullptr)
      Fail("player-unreadable",
           fmt::format("The simulated player in {} cannot be read: {}", dir, why),
           "Its files were damaged or written by another version.",
           fmt::format("Create a new one with `orvik sim create --force --player {}`.",
                       ShellQuote(dir)));
    player->PlugIn();
    return player;
  }
  std::shared_ptr<sim::Player> player = sim::Player::Create(DefaultPlayerConfig());
  if (!player->Save(dir, &why))
    Fail("player-unwritable",
         fmt::format("A new simulated player cannot be saved in {}: {}", dir, why),
         "The folder is not writable.", "Give a writable folder with --player.");
  console.Line(console.Paint(Style::kInfo, "Created a new simulated player in " + dir) +
               " (first use of the default folder: 64 MB flash, type 7, 2 factory bad blocks, "
               "32 MiB card).");
  return player;
}

std::string TargetText(const TargetOptions& options) {
  if (!options.device) return "simulated player in " + options.playerDir;
  const std::string objects =
      options.recovery ? host::kRecoveryObjectPrefix : host::kDeviceObjectPrefix;
  std::string text =
      "device \\\\.\\" + objects +
      (options.instance < 0 ? std::string("0 to 99") : std::to_string(options.instance));
#ifndef _WIN32
  const char* deviceDir = std::getenv("ORVIK_DEVICE_DIR");
  if (deviceDir != nullptr && deviceDir[0] != '\0')
    text += std::string(" (sockets in ") + deviceDir + ")";
#endif
  return text;
}

std::string ReservationFileFor(const TargetOptions& options) {
  return ReservationLocation(options.device ? std::string() : options.playerDir);
}

Session::Session(Console& console, TargetOptions options)
    : console_(console), options_(std::move(options)) {}

std::unique_ptr<Session> Session::Open(Console& console, const TargetOptions& options,
                                       bool announce) {
  std::unique_ptr<Session> session(new Session(console, options));
  if (announce) console.Line(console.Paint(Style::kBold, "Target:") + " " + TargetText(options));
  if (!options.device) {
    session->player_ = LoadPlayer(console, options.playerDir, options.defaultFolder);
    if (console.Verbose())
      session->player_->SetTrace([&console](const sim::TraceEvent& event) {
        console.Step("player: " + sim::FormatTraceEvent(event));
      });
    session->player_->Register();
    console.Step("registered the simulated player as \\\\.\\" + session->player_->ObjectName());
  }
  session->reservationFile_ = ReservationFileFor(options);
  UseReservationLocation(session->reservationFile_);
  session->OpenLibrary();
  return session;
}

void Session::OpenLibrary() {
  const DEVICE_STATUS mode = options_.recovery ? DEVICE_STATUS_RECOVERY : DEVICE_STATUS_NORMAL;
  int opened = options_.instance < 0
                   ? OrvikOpenDriver(mode)
                   : OrvikOpenDriverEx(static_cast<char>(options_.instance), mode);
  console_.Step(fmt::format("{}(mode {}) -> {}",
                            options_.instance < 0 ? "OrvikOpenDriver" : "OrvikOpenDriverEx",
                            static_cast<int>(mode), opened));
  if (opened == 1) {
    libraryOpen_ = true;
    return;
  }

  const std::string objects =
      options_.recovery ? host::kRecoveryObjectPrefix : host::kDeviceObjectPrefix;
  const std::string range = options_.instance < 0 ? objects + "0 to " + objects + "99"
                                                  : objects + std::to_string(options_.instance);
  Problem problem;
  problem.code = "no-device";
  problem.details = {{"objects", range}};
  if (player_ != nullptr) {
    const sim::PlayerConfig config = player_->Config();
    const sim::Player::StartState start = player_->Startup();
    const bool inRecovery = start.mode == sim::StartMode::kRecovery;
    problem.message =
        fmt::format("The simulated player in {} did not open as {}.", options_.playerDir, range);
    problem.details["start"] = {{"mode", inRecovery ? "recovery" : "normal"},
                                {"reason", start.reason}};
    if (inRecovery && !options_.recovery) {
      problem.cause = "The player is in recovery mode (" + start.reason +
                      "): only its recovery device object " + player_->ObjectName() +
                      " is present.";
      const std::string again =
          options_.commandLine.rfind("orvik ", 0) == 0
              ? "`orvik --recovery " + options_.commandLine.substr(6) + "`"
              : "the command with --recovery (after " + CommandOptions() + ")";
      problem.action = "Run it through the recovery device object: " + again +
                       "; the update with the set's manifest repairs a damaged startup "
                       "copy, the full reflash rebuilds the player.";
    } else if (!inRecovery && options_.recovery) {
      problem.cause = "The player started normally (" + start.reason +
                      "), so it has no recovery device object.";
      problem.action =
          "Leave out --recovery, or put the simulated player in recovery mode with "
          "`orvik sim mode --recovery-mode " +
          CommandOptions() + "`.";
    } else if (options_.instance >= 0 && options_.instance != config.instance) {
      problem.cause = "The player's device object is " + player_->ObjectName() + ".";
      problem.action =
          "Leave out --instance, or give --instance " + std::to_string(config.instance) + ".";
    } else {
      problem.cause =
          "The player refuses to be opened (its driver refuses opens, or it lost power).";
      problem.action = "Check its fault settings with `orvik sim inspect " + CommandOptions() +
                       "`, or create a new player with `orvik sim create --force " +
                       CommandOptions() + "`.";
    }
  } else {
    problem.message = "No player found: none of the device objects " + range + " could be opened.";
    const char* deviceDir = std::getenv("ORVIK_DEVICE_DIR");
    if (deviceDir == nullptr || deviceDir[0] == '\0') {
      problem.cause = "ORVIK_DEVICE_DIR is not set, so this system has no device object to open.";
      problem.action =
          "Serve a player with `orvik sim serve --player DIR --device-dir SOCKETS` "
          "and set ORVIK_DEVICE_DIR=SOCKETS, or leave out --device to work on a "
          "simulated player directly.";
    } else {
      problem.cause = std::string("No player is served in ") + deviceDir +
                      " (no socket there answers), or it was unplugged.";
      problem.action = std::string("Start `orvik sim serve --player DIR --device-dir ") +
                       deviceDir + "` and run the command again.";
      problem.details["deviceDir"] = deviceDir;
    }
  }
  throw ToolError(std::move(problem));
}

Session::~Session() {
  try {
    Close();
  } catch (const ToolError& failure) {
    console_.Warn(failure.problem().message);
  }
}

void Session::Close() {
  if (closed_) return;
  closed_ = true;
  OrvikFreeMemoryDevice(0);
  if (libraryOpen_) {
    int closed = OrvikCloseDriver();
    console_.Step(fmt::format("OrvikCloseDriver() -> {}", closed));
    libraryOpen_ = false;
  }
  if (player_ == nullptr) return;
  player_->Unregister();
  player_->SetTrace(nullptr);
  std::string why;
  if (!player_->Save(options_.playerDir, &why))
    Fail("player-unwritable",
         fmt::format("The simulated player could not be saved in {}: {}", options_.playerDir, why),
         "The folder is not writable or the disk is full.",
         "Free some space or give another folder with --player.");
  console_.Step("saved the simulated player in " + options_.playerDir);
}

std::string Session::CommandOptions() const { return ShellJoin(CommandWords()); }

std::vector<std::string> Session::CommandWords() const {
  std::vector<std::string> words;
  if (options_.device)
    words.push_back("--device");
  else
    words = {"--player", options_.playerDir};
  if (options_.instance >= 0) {
    words.push_back("--instance");
    words.push_back(std::to_string(options_.instance));
  }
  return words;
}

nlohmann::json Session::Describe() const {
  nlohmann::json target;
  if (player_ != nullptr) {
    target["kind"] = "simulator";
    target["player"] = options_.playerDir;
    target["deviceObject"] = player_->ObjectName();
  } else {
    target["kind"] = "device";
    const char* deviceDir = std::getenv("ORVIK_DEVICE_DIR");
    if (deviceDir != nullptr) target["deviceDir"] = deviceDir;
  }
  target["recovery"] = options_.recovery;
  target["reservationFile"] = reservationFile_;
  return target;
}

}  // namespace orvik::tool
