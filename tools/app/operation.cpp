#include "app/operation.h"

#include "base/exit_codes.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "target/sim_folder.h"

namespace orvik::tool {

std::unique_ptr<Session> OperationContext::OpenTarget() {
  std::unique_ptr<Session> session =
      Session::Open(events, settings.Target(), settings.announceTarget);
  target = session->Describe();
  return session;
}

std::shared_ptr<sim::Player> OperationContext::OpenPlayerFolder() {
  const TargetOptions& options = settings.Target();
  target = {{"kind", "simulator"}, {"player", options.playerDir}};
  if (settings.announceTarget)
    events.Line(events.Paint(Style::kBold, "Target:") + " " + TargetText(options));
  return LoadPlayer(events, options.playerDir);
}

bool SavePlayerFolder(OperationContext& context, const sim::Player& player) {
  if (context.settings.dryRun) {
    context.result["dryRun"] = true;
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") +
                        " nothing was saved; the player's folder is as it was.");
    return false;
  }
  SavePlayer(player, context.settings.Target().playerDir);
  return true;
}

void RefuseDryRun(const OperationContext& context, const std::string& command,
                  const std::string& instead) {
  if (!context.settings.dryRun) return;
  Problem problem;
  problem.code = "usage";
  problem.exitCode = kExitUsage;
  problem.message = "--dry-run does not apply to " + command + ": nothing was done.";
  problem.action = instead;
  throw ToolError(std::move(problem));
}

std::string TargetCommand(const Session& session, std::vector<std::string> words) {
  words.insert(words.begin(), "orvik");
  for (const std::string& word : session.CommandWords()) words.push_back(word);
  return ShellJoin(words);
}

void Confirm(const OperationContext& context, const std::string& targetText,
             Destruction destruction) {
  destruction.target = targetText;
  context.events.Confirm(destruction);
}

}  // namespace orvik::tool
