// What every command gets: the console, the global options and the JSON
// document's parts it fills.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "firmware_set/trust_options.h"
#include "output/console.h"
#include "target/session.h"

namespace orvik::tool {

struct GlobalOptions {
  std::string player;       // --player (empty: the default folder)
  bool device = false;      // --device
  bool recovery = false;    // --recovery
  int instance = -1;        // --instance
  bool json = false;        // --json
  int verbosity = 0;        // -v
  bool yes = false;         // --yes: destructive commands go ahead without asking
  bool dryRun = false;      // --dry-run: say what would be done, change nothing
  std::string commandLine;  // the command as given, quoted, for "run it again"
  ColorMode color = ColorMode::kAuto;
  std::string trustDir;           // --trust-dir (empty: the default trust folder)
  bool requireSignature = false;  // --require-signature
  bool ignoreModel = false;       // --ignore-model: use a set made for other players

  TargetOptions Target() const;
  // The trust folder and signature rule in force for firmware sets.
  TrustOptions Trust() const;
};

struct CommandContext {
  Console& console;
  const GlobalOptions& global;
  nlohmann::json& result;  // the command's findings ("result" of the JSON document)
  nlohmann::json& target;  // which player it worked on ("target")

  // Opens the command's target (naming it on the first line of the
  // output) and records it in the document.
  std::unique_ptr<Session> OpenTarget() {
    std::unique_ptr<Session> session = Session::Open(console, global.Target());
    target = session->Describe();
    return session;
  }

  // For the commands that work on a simulated player's folder directly:
  // names the target, locks the folder and loads the player, which must be
  // there.
  std::shared_ptr<sim::Player> OpenPlayerFolder() {
    const TargetOptions options = global.Target();
    target = {{"kind", "simulator"}, {"player", options.playerDir}};
    console.Line(console.Paint(Style::kBold, "Target:") + " " + TargetText(options));
    return LoadPlayer(console, options.playerDir, false);
  }
};

}  // namespace orvik::tool
