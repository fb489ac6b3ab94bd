#include "target/session.h"

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>

#include "base/environment.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "orvik/orvik.h"
#include "sim/player_folder.h"
#include "target/folder_lock.h"
#include "target/reservation_config.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

// The first field every player.json the simulator writes holds but this one
// lacks ("" when none is missing or the file is no JSON at all: the
// simulator's reader then says what is wrong).
std::string MissingPlayerFields(const std::string& text) {
  nlohmann::json settings = nlohmann::json::parse(text, nullptr, false);
  if (settings.is_discarded() || !settings.is_object()) return {};
  for (const char* field : {"format", "flash", "card", "device"})
    if (!settings.contains(field)) return std::string("\"") + field + "\" field";
  if (!settings["flash"].is_object() || !settings["flash"].contains("type"))
    return "\"flash.type\" field";
  return {};
}

[[noreturn]] void Unreadable(const std::string& dir, const std::string& why) {
  Problem problem;
  problem.code = "player-unreadable";
  problem.message = fmt::format("The simulated player in {} cannot be read: {}", dir, why);
  problem.cause =
      "Its files were damaged, replaced by something else, or written by another version.";
  problem.action =
      fmt::format("Create a new one with `orvik sim create --force --player {}`.", ShellQuote(dir));
  problem.details = {{"player", dir}};
  throw ToolError(std::move(problem));
}

}  // namespace

std::string PlayerFolderFromEnvironment() {
  const char* player = std::getenv("ORVIK_PLAYER");
  return player != nullptr ? player : "";
}

std::string DefaultSimulatedPlayerDir() {
  if (std::string player = PlayerFolderFromEnvironment(); !player.empty()) return player;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] != '\0')
    return (fs::path(data) / "orvik" / "player").string();
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
    return (fs::path(home) / ".local" / "share" / "orvik" / "player").string();
  return "orvik-player";
}

std::shared_ptr<sim::Player> LoadPlayer(Events& console, const std::string& dir) {
  std::error_code error;
  // The settings file's own entry: a link to nowhere is there, and refused.
  if (!fs::exists(fs::symlink_status(fs::path(dir) / sim::kSettingsFile, error))) {
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
  HoldFolderLockForThisRun(dir);
  // Read once checked (never a pipe or a device, never more than the
  // largest settings file); the simulator fills missing settings with
  // defaults, so a player.json without them was not written by it, and
  // would silently become a default player.
  std::string settings, why;
  if (!sim::ReadSettingsFile(dir, &settings, &why)) Unreadable(dir, why + ".");
  if (std::string missing = MissingPlayerFields(settings); !missing.empty())
    Unreadable(dir, "player.json has no " + missing + ".");
  std::shared_ptr<sim::Player> player = sim::Player::Load(dir, &why);
  if (player == nullptr) Unreadable(dir, why + (why.ends_with('.') ? "" : "."));
  // Every command is a new plug-in: the player's startup check decides
  // whether it comes up normally or only as its recovery device.
  player->PlugIn();
  console.Step("loaded the simulated player in " + dir + "; plugged in, it " +
               (player->Startup().mode == sim::StartMode::kNormal ? "starts normally"
                                                                  : "comes up in recovery mode") +
               " (" + player->Startup().reason + ")");
  return player;
}

std::string TargetText(const TargetOptions& options) {
  if (!options.device) return "simulated player in " + options.playerDir;
  const std::string objects = host::DeviceObjectPrefix(options.recovery);
#ifdef _WIN32
  return "device \\\\.\\" + objects +
         (options.instance < 0 ? std::string("0 to 99") : std::to_string(options.instance));
#else
  // Here the device objects are sockets in a folder, not Windows paths.
  std::string text =
      "device " + objects +
      (options.instance < 0 ? "0 to " + objects + "99" : std::to_string(options.instance));
  const std::string deviceDir = EnvironmentValue("ORVIK_DEVICE_DIR");
  return text + (deviceDir.empty() ? std::string(" (no socket folder: ORVIK_DEVICE_DIR is not set)")
                                   : " (sockets in " + deviceDir + ")");
#endif
}

std::string ReservationFileFor(const TargetOptions& options) {
  return ReservationLocation(options.device ? std::string() : options.playerDir);
}

Session::Session(Events& console, TargetOptions options)
    : console_(console), options_(std::move(options)) {}

std::unique_ptr<Session> Session::Open(Events& console, const TargetOptions& options,
                                       bool announce) {
  std::unique_ptr<Session> session(new Session(console, options));
  if (announce) console.Line(console.Paint(Style::kBold, "Target:") + " " + TargetText(options));
  if (!options.device) {
    session->player_ = LoadPlayer(console, options.playerDir);
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

bool Session::OpenObject(bool recovery) {
  const DEVICE_STATUS mode = recovery ? DEVICE_STATUS_RECOVERY : DEVICE_STATUS_NORMAL;
  const int opened = options_.instance < 0
                         ? OrvikOpenDriver(mode)
                         : OrvikOpenDriverEx(static_cast<char>(options_.instance), mode);
  console_.Step(fmt::format("{}(mode {}) -> {}",
                            options_.instance < 0 ? "OrvikOpenDriver" : "OrvikOpenDriverEx",
                            static_cast<int>(mode), opened));
  if (opened != 1) return false;
  libraryOpen_ = true;
  recoveryOpen_ = recovery;
  const std::string prefix = host::DeviceObjectPrefix(recovery);
  openedObject_ = "\\\\.\\" + prefix +
                  (player_ != nullptr       ? std::to_string(player_->Config().instance)
                   : options_.instance >= 0 ? std::to_string(options_.instance)
                                            : std::string("N"));
  return true;
}

void Session::OpenLibrary() {
  if (options_.recovery) {
    if (!OpenObject(true)) FailToOpen();
    return;
  }
  if (OpenObject(false)) return;
  // A player whose firmware does not start appears only as its recovery
  // object: the tool works with it there and says so.
  if (!OpenObject(true)) FailToOpen();
  console_.Line(console_.Paint(Style::kWarn, "The player does not start normally:") +
                " it answers only as its recovery device object (the firmware's startup copy "
                "is not whole). `orvik check` tells what is wrong and `orvik fix` repairs it.");
}

namespace {

// A simulated player that was found but did not open: why, from its
// settings against the options given.
void ExplainUnopenedSimulatedPlayer(const Session& session, const std::string& range,
                                    Problem& problem) {
  const TargetOptions& options = session.Options();
  const sim::PlayerConfig config = session.Player()->Config();
  problem.message =
      fmt::format("The simulated player in {} did not open as {}.", options.playerDir, range);
  if (!config.recoveryMode && options.recovery) {
    problem.cause = "The player starts normally, so it has no recovery device object.";
    problem.action =
        "Leave out --recovery, or put the simulated player in recovery mode with "
        "`orvik sim mode --recovery-mode " +
        session.CommandOptions() + "`.";
  } else if (options.instance >= 0 && options.instance != config.instance) {
    problem.cause = "The player's device object is " + session.Player()->ObjectName() + ".";
    problem.action =
        "Leave out --instance, or give --instance " + std::to_string(config.instance) + ".";
  } else {
    problem.cause = "The player refuses to be opened (its driver refuses opens, or it lost power).";
    problem.action = "Check its fault settings with `orvik sim info " + session.CommandOptions() +
                     "`, or create a new player with `orvik sim create --force " +
                     session.CommandOptions() + "`.";
  }
}

// No device object answered: where the tool looked, and how to attach or
// serve a player.
void ExplainNoPlayerFound(bool recovery, const std::string& range, Problem& problem) {
  problem.message = "No player found: none of the device objects " + range +
                    (recovery ? std::string() : " (nor their recovery objects)") +
                    " could be opened.";
#ifdef _WIN32
  problem.cause = "No player is attached, or its driver is not installed.";
  problem.action =
      "Attach the player and run the command again; for a simulated player give its folder "
      "with --player DIR (`orvik sim create --player DIR` makes one).";
#else
  const char* deviceDir = std::getenv("ORVIK_DEVICE_DIR");
  if (deviceDir == nullptr || deviceDir[0] == '\0') {
    problem.cause =
        "No player is attached: ORVIK_DEVICE_DIR is not set, so this system has no device "
        "object to open.";
    problem.action =
        "For a simulated player give its folder with --player DIR (`orvik sim create --player "
        "DIR` makes one), or serve one with `orvik sim serve --player DIR --device-dir SOCKETS` "
        "and set ORVIK_DEVICE_DIR=SOCKETS.";
  } else {
    problem.cause = std::string("No player is served in ") + deviceDir +
                    " (no socket there answers), or it was unplugged.";
    problem.action = std::string("Start `orvik sim serve --player DIR --device-dir ") + deviceDir +
                     "` and run the command again, or give a simulated player's folder with "
                     "--player DIR (`orvik sim create --player DIR` makes one).";
    problem.details["deviceDir"] = deviceDir;
  }
#endif
}

}  // namespace

void Session::FailToOpen() {
  const std::string objects = host::DeviceObjectPrefix(options_.recovery);
  const std::string range = options_.instance < 0 ? objects + "0 to " + objects + "99"
                                                  : objects + std::to_string(options_.instance);
  Problem problem;
  problem.code = "no-device";
  problem.details = {{"objects", range}};
  if (player_ != nullptr)
    ExplainUnopenedSimulatedPlayer(*this, range, problem);
  else
    ExplainNoPlayerFound(options_.recovery, range, problem);
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
  if (options_.dryRun) return;
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
  target["recovery"] = recoveryOpen_;
  target["deviceObjectOpened"] = openedObject_;
  target["reservationFile"] = reservationFile_;
  return target;
}

}  // namespace orvik::tool
