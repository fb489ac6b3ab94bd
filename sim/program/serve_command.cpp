// orvik-sim serve: the player on a Unix socket until interrupted.
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "sim/player.h"
#include "sim/program/commands.h"
#include "sim/socket_server.h"

namespace orvik::sim::program {
namespace {

SocketServer* gServer = nullptr;

extern "C" void StopOnSignal(int) {
  if (gServer != nullptr) gServer->RequestStop();
}

}  // namespace

int RunServe(const ServeOptions& options) {
  std::string error;
  std::shared_ptr<Player> player = Player::Load(options.player, &error);
  if (player == nullptr) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  std::string deviceDir = options.deviceDir;
  if (deviceDir.empty()) {
    const char* fromEnvironment = std::getenv("ORVIK_DEVICE_DIR");
    if (fromEnvironment == nullptr || fromEnvironment[0] == '\0') {
      std::cerr << "orvik-sim: give --device-dir or set ORVIK_DEVICE_DIR\n";
      return 1;
    }
    deviceDir = fromEnvironment;
  }
  if (options.verbose)
    player->SetTrace([](const TraceEvent& event) { std::cerr << FormatTraceEvent(event) << "\n"; });

  auto save = [&] {
    std::string why;
    if (options.save && !player->Save(options.player, &why))
      std::cerr << "orvik-sim: " << why << "\n";
  };
  SocketServer* active = nullptr;
  SocketServer::Options serverOptions;
  serverOptions.deviceDir = deviceDir;
  serverOptions.onClientClosed = [&] {
    save();
    // A player without power is unplugged: nothing more to serve.
    if (player->PowerLost() && active != nullptr) active->RequestStop();
  };
  SocketServer serving(player, serverOptions);
  active = &serving;
  if (!serving.Listen(&error)) {
    std::cerr << "orvik-sim: " << error << "\n";
    return 1;
  }
  gServer = &serving;
  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);
  std::cout << "serving " << player->ObjectName() << " at " << serving.SocketPath() << std::endl;
  serving.Serve();
  gServer = nullptr;
  save();
  if (options.verbose) std::cerr << player->InjectedFaultSummary() << "\n";
  return 0;
}

}  // namespace orvik::sim::program
