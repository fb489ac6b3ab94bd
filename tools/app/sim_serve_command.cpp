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
  const std::string dir = context.settings.Target().playerDir;
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
  Events& console = context.events;
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
  auto startText = [&] {
    const sim::Player::StartState start = player->Startup();
    return std::string(start.mode == sim::StartMode::kNormal ? "starts normally"
                                                             : "came up as its recovery device") +
           " (" + start.reason + ")";
  };
  auto record = [&] {
    ServingRecord serving;
    serving.pid = static_cast<long long>(::getpid());
    serving.deviceObject = player->ObjectName();
    serving.socket = active != nullptr ? active->SocketPath() : std::string();
    serving.start = player->Startup();
    if (!WriteServingRecord(dir, serving))
      console.Warn("cannot write the serving record in " + dir);
  };
  serverOptions.beforeReplug = [&] {
    saveNow();
    console.Step("replug: clients dropped; player saved");
  };
  serverOptions.afterReplug = [&] {
    saveNow();
    record();
    console.Line(fmt::format("Plugged in anew: the player {}; serving {} at {}.", startText(),
                             player->ObjectName(), active->SocketPath()));
  };
  sim::SocketServer server(player, serverOptions);
  active = &server;
  std::string error;
  if (!server.Listen(&error))
    Fail("serve", "The player cannot be served: " + error,
         error.find("in use") != std::string::npos
             ? "Another orvik sim serve serves a player of the same device "
               "object name in this folder."
             : "The folder is not writable.",
         "Stop the other server, or give another --device-dir (or give each player its own "
         "--instance number when it is created).");
  gServing = &server;
  std::signal(SIGINT, StopServing);
  std::signal(SIGTERM, StopServing);
  std::signal(SIGHUP, ReplugServing);
  record();
  // Said at once, so that scripts can wait for this line before they connect.
  console.Line(
      fmt::format("Serving {} at {} (Ctrl-C stops; use --device with "
                  "ORVIK_DEVICE_DIR={}).",
                  player->ObjectName(), server.SocketPath(), deviceDir));
  console.Line("Plugged in, the player " + startText() + "; `orvik sim replug --player " +
               ShellQuote(dir) + "` plugs it in anew.");
  server.Serve();
  gServing = nullptr;
  std::signal(SIGHUP, SIG_DFL);
  RemoveServingRecord(dir);
  saveNow();
  context.result = {{"deviceObject", player->ObjectName()},
                    {"start", PlayerJson(*player, dir)["start"]},
                    {"socket", server.SocketPath()},
                    {"saved", save},
                    {"powerLost", player->PowerLost()}};
  console.Line("Stopped serving" + std::string(save ? "; the player is saved." : "."));
  return kExitDone;
#endif
}

}  // namespace orvik::tool
