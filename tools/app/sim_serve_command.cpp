// orvik sim serve: a simulated player served as a device object on a Unix
// socket until it is stopped, for programs that open players the way they
// open real ones (--device, ORVIK_DEVICE_DIR).  The player is plugged in as
// the server starts; SIGHUP (what `orvik sim replug` sends) plugs it in
// anew, and it is then served under the object name that applies.
#include <fmt/format.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "app/operations.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "target/serving_record.h"
#include "target/sim_folder.h"
#ifndef _WIN32
#include <unistd.h>

#include "sim/socket_server.h"
#endif

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
sim::SocketServer* gServing = nullptr;

extern "C" void StopServing(int) {
  if (gServing != nullptr) gServing->RequestStop();
}

extern "C" void ReplugServing(int) {
  if (gServing != nullptr) gServing->RequestReplug();
}

// The folder to serve the device object in: --device-dir, else
// ORVIK_DEVICE_DIR.
std::string DeviceDirToServeIn(const std::string& deviceDirOption) {
  if (!deviceDirOption.empty()) return deviceDirOption;
  const char* fromEnvironment = std::getenv("ORVIK_DEVICE_DIR");
  if (fromEnvironment == nullptr || fromEnvironment[0] == '\0')
    Fail("usage", "There is no folder to serve the player's device object in.",
         "Neither --device-dir nor ORVIK_DEVICE_DIR is given.",
         "Give --device-dir DIR (and set ORVIK_DEVICE_DIR=DIR for the programs that use it).");
  return fromEnvironment;
}

// The player being served, and what the server does around its clients and
// replugs: saves the player's folder (unless --no-save) and keeps the
// serving record, which `orvik sim replug` reads, up to date.
class ServedPlayer {
 public:
  ServedPlayer(Events& console, std::shared_ptr<sim::Player> player, std::string dir, bool save)
      : console_(console), player_(std::move(player)), dir_(std::move(dir)), save_(save) {}
  ServedPlayer(const ServedPlayer&) = delete;  // the server's hooks hold this
  ServedPlayer& operator=(const ServedPlayer&) = delete;

  void SaveNow() {
    std::string why;
    if (save_ && !player_->Save(dir_, &why)) console_.Warn("the player could not be saved: " + why);
  }

  std::string StartText() const {
    const sim::Player::StartState start = player_->Startup();
    return std::string(start.mode == sim::StartMode::kNormal ? "starts normally"
                                                             : "came up as its recovery device") +
           " (" + start.reason + ")";
  }

  void WriteRecord() {
    ServingRecord serving;
    serving.pid = static_cast<long long>(::getpid());
    serving.deviceObject = player_->ObjectName();
    serving.socket = active_ != nullptr ? active_->SocketPath() : std::string();
    serving.start = player_->Startup();
    if (!WriteServingRecord(dir_, serving))
      console_.Warn("cannot write the serving record in " + dir_);
  }

  sim::SocketServer::Options ServerOptions(const std::string& deviceDir) {
    sim::SocketServer::Options options;
    options.deviceDir = deviceDir;
    options.onClientClosed = [this] {
      SaveNow();
      console_.Step("client closed; player saved");
      if (player_->PowerLost() && active_ != nullptr) active_->RequestStop();
    };
    options.beforeReplug = [this] {
      SaveNow();
      console_.Step("replug: clients dropped; player saved");
    };
    options.afterReplug = [this] {
      SaveNow();
      WriteRecord();
      console_.Line(fmt::format("Plugged in anew: the player {}; serving {} at {}.", StartText(),
                                player_->ObjectName(), active_->SocketPath()));
    };
    return options;
  }

  void ServedBy(sim::SocketServer* server) { active_ = server; }

 private:
  Events& console_;
  std::shared_ptr<sim::Player> player_;
  const std::string dir_;
  const bool save_;
  sim::SocketServer* active_ = nullptr;
};

void ListenOrFail(sim::SocketServer& server) {
  std::string error;
  if (!server.Listen(&error))
    Fail("serve", "The player cannot be served: " + error,
         error.find("in use") != std::string::npos
             ? "Another orvik sim serve serves a player of the same device "
               "object name in this folder."
             : "The folder is not writable.",
         "Stop the other server, or give another --device-dir (or give each player its own "
         "--instance number when it is created).");
}

// Serves the player until SIGINT or SIGTERM (or a client that cut its
// power) stops the server.
int ServePlayer(OperationContext& context, const std::string& deviceDirOption, bool save) {
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  const std::string deviceDir = DeviceDirToServeIn(deviceDirOption);
  fs::create_directories(deviceDir);
  Events& console = context.events;
  if (console.Verbose())
    player->SetTrace([&console](const sim::TraceEvent& event) {
      console.Step("player: " + sim::FormatTraceEvent(event));
    });
  ServedPlayer served(console, player, dir, save);
  sim::SocketServer server(player, served.ServerOptions(deviceDir));
  served.ServedBy(&server);
  ListenOrFail(server);
  gServing = &server;
  std::signal(SIGINT, StopServing);
  std::signal(SIGTERM, StopServing);
  std::signal(SIGHUP, ReplugServing);
  served.WriteRecord();
  // Said at once, so that scripts can wait for this line before they connect.
  console.Line(
      fmt::format("Serving {} at {} (Ctrl-C stops; use --device with "
                  "ORVIK_DEVICE_DIR={}).",
                  player->ObjectName(), server.SocketPath(), deviceDir));
  console.Line("Plugged in, the player " + served.StartText() + "; `orvik sim replug --player " +
               ShellQuote(dir) + "` plugs it in anew.");
  server.Serve();
  gServing = nullptr;
  std::signal(SIGHUP, SIG_DFL);
  RemoveServingRecord(dir);
  served.SaveNow();
  context.result = {{"deviceObject", player->ObjectName()},
                    {"start", PlayerJson(*player, dir)["start"]},
                    {"socket", server.SocketPath()},
                    {"saved", save},
                    {"powerLost", player->PowerLost()}};
  console.Line("Stopped serving" + std::string(save ? "; the player is saved." : "."));
  return kExitDone;
}
#endif

}  // namespace

int RunSimServe(OperationContext& context, const std::string& deviceDirOption, bool save) {
  RefuseDryRun(context, "orvik sim serve",
               "Serve with --no-save to leave the player\'s folder as it was.");
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
  return ServePlayer(context, deviceDirOption, save);
#endif
}

}  // namespace orvik::tool
