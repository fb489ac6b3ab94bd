// What every operation of the tool gets: the events it reports through, the
// settings of the run (target, dry run), and the parts of the result it
// fills.  An operation prints nothing: a face (the terminal, the web page)
// makes the context, runs the operation and presents its events, its result
// and the structured failure it may throw (ToolError).
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/events.h"
#include "firmware_set/trust_options.h"
#include "target/session.h"

namespace orvik::tool {

// What the person chose for this run, whatever face they chose it through.
struct Settings {
  TargetOptions target;
  bool dryRun = false;         // say what would be done, change nothing
  std::string commandLine;     // the command as given, quoted, for "run it again"
  bool announceTarget = true;  // name the target when it is opened
  TrustOptions trust;          // the trust folder and the signature rule for firmware sets
  bool ignoreModel = false;    // use a set made for other players (asking first)

  const TargetOptions& Target() const { return target; }
};

struct OperationContext {
  Events& events;
  const Settings& settings;
  nlohmann::json& result;  // the operation's findings ("result" of the JSON document)
  nlohmann::json& target;  // which player it worked on ("target")

  // Opens the operation's target (naming it first) and records it.
  std::unique_ptr<Session> OpenTarget();

  // For the operations that work on a simulated player's folder directly:
  // names the target, locks the folder and loads the player, which must be
  // there.
  std::shared_ptr<sim::Player> OpenPlayerFolder();
};

// Events passed on to another, except the question before a destructive
// step: an operation run as a step of another that already asked (fix)
// goes ahead.
class AgreedEvents : public ForwardedEvents {
 public:
  using ForwardedEvents::ForwardedEvents;
  void Confirm(const Destruction&) override {}
};

// Saves a simulated player's folder after an operation changed the player
// or its settings; with --dry-run saves nothing, says so, and returns false
// (result.dryRun is set).
bool SavePlayerFolder(OperationContext& context, const sim::Player& player);

// For the operations --dry-run cannot apply to: refuses the run (exit code
// 64), saying what to do instead.
void RefuseDryRun(const OperationContext& context, const std::string& command,
                  const std::string& instead);

// "orvik WORDS..." with the options that name the session's target, for
// the advice to run a command on the same player.
std::string TargetCommand(const Session& session, std::vector<std::string> words);

// Asks before a destructive step on the target named by targetText.
void Confirm(const OperationContext& context, const std::string& targetText,
             Destruction destruction);

}  // namespace orvik::tool
