// orvik fix: the least destructive remedy for what `orvik check` finds, run
// after one question that names every step and what it may lose, then the
// check again and its verdict.
//
// The steps are the tool's own operations (reserve, update, reflash, quick
// format, card format), run as they run on their own; a player that starts
// only in recovery mode is updated through its recovery object.  The full
// reflash is chosen only when nothing less can work, and then only after
// the files on the volume were backed up (or --no-backup said not to).
#include <fmt/format.h>

#include <functional>

#include "app/backup_name.h"
#include "app/examination.h"
#include "app/journaling.h"
#include "app/keep_files.h"
#include "app/operations.h"
#include "base/exit_codes.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"

namespace orvik::tool {
namespace {

// Runs one step as the operation runs on its own, under the question fix
// already asked.
int RunStep(OperationContext& context, FixStep step, const Examination& examination) {
  switch (step) {
    case FixStep::kReserve:
      return RunReserve(context, ReserveOptions{examination.health.laidOutKiloBytes, {}, false});
    case FixStep::kUpdate:
    case FixStep::kUpdateRepair:
    case FixStep::kUpdateForce: {
      UpdateOptions options;
      options.manifest = examination.manifestPath;
      options.force = step == FixStep::kUpdateForce;
      options.repair = step == FixStep::kUpdateRepair;
      return RunUpdate(context, options);
    }
    case FixStep::kReflash: {
      ReflashOptions options;
      options.manifest = examination.manifestPath;
      return RunReflash(context, options);
    }
    case FixStep::kQuickFormat:
      return RunQuickFormat(context, false);
    case FixStep::kRestore:
      return RunRestore(context, RestoreOptions{examination.health.restoreImage});
    case FixStep::kCardFormat:
      return RunCardFormat(context, CardOptions{});
  }
  return kExitFailed;
}

[[noreturn]] void RefuseWithoutSet() {
  Problem problem;
  problem.code = "needs-firmware-set";
  problem.exitCode = kExitUsage;
  problem.message =
      "Repairing this player means writing its firmware, and no firmware set was "
      "given.";
  problem.action =
      "Run orvik fix again with --manifest and the player's firmware set (its manifest.json). "
      "Nothing was changed.";
  throw ToolError(std::move(problem));
}

// A step empties a volume that holds files, or one whose damaged file system
// may still give some up: they are backed up first, unless --no-backup.
bool BacksUpFirst(const PlayerHealth& health, const FixOptions& options) {
  bool backup = false;
  for (FixStep step : health.steps)
    backup |= (step == FixStep::kReflash && health.volumeHoldsFiles) ||
              (step == FixStep::kQuickFormat && health.fileSystem == "damaged");
  return backup && !options.noBackup;
}

// Names every step, numbered, and records the plan; returns the steps as the
// question names them.  backupFile is "" when no backup comes first.
std::string ShowPlan(OperationContext& context, const PlayerHealth& health,
                     const std::string& backupFile) {
  Events& events = context.events;
  nlohmann::json plan = nlohmann::json::array();
  std::string what;
  events.Line(events.Paint(Style::kBold, "orvik fix will:"));
  int number = 0;
  if (!backupFile.empty()) {
    events.Line(fmt::format("  {}. back the files on the volume up to {}", ++number, backupFile));
    plan.push_back({{"step", "backup"}, {"file", backupFile}});
  }
  for (FixStep step : health.steps) {
    events.Line(fmt::format("  {}. {}", ++number, FixStepWords(step)));
    plan.push_back({{"step", FixStepCommand(step)}, {"words", FixStepWords(step)}});
    what += (what.empty() ? "" : "; then ") + FixStepWords(step);
  }
  context.result["plan"] = plan;
  return what;
}

// The one question, naming what the steps may lose and, when they lose
// files that are not backed up, the backup to make first.
void AskAboutPlan(OperationContext& context, const Examination& before, const PlayerHealth& health,
                  const std::string& what, bool backup, const FixOptions& options) {
  std::vector<std::string> backupWords = {"orvik", "backup", "--output", "player-backup.img"};
  backupWords.insert(backupWords.end(), before.targetWords.begin(), before.targetWords.end());
  const bool loses = std::find_if(health.steps.begin(), health.steps.end(), [](FixStep step) {
                       return step == FixStep::kReflash || step == FixStep::kQuickFormat ||
                              step == FixStep::kCardFormat;
                     }) != health.steps.end();
  Confirm(context, TargetText(context.settings.Target()),
          {"orvik fix", what,
           loses ? (backup ? "what the steps name (the files are backed up first)"
                           : "what the steps name")
                 : "nothing (the files on the player stay)",
           loses && !backup && !options.noBackup ? ShellJoin(backupWords) : std::string()});
}

// Runs fix's steps one after the other, each as its own operation with the
// question already answered and the target already named, and records each
// in the result's "steps".
class StepRunner {
 public:
  StepRunner(OperationContext& context, const Settings& quiet, size_t total, bool withSet)
      : context_(context),
        agreed_(context.events),
        quiet_(quiet),
        total_(total),
        withSet_(withSet) {}

  void Run(const std::string& name, const std::function<int(OperationContext&)>& work) {
    Events& events = context_.events;
    ++index_;
    events.Line(events.Paint(Style::kBold, fmt::format("Step {} of {}: ", index_, total_)) + name);
    nlohmann::json result = nlohmann::json::object();
    nlohmann::json target = nullptr;
    OperationContext step{agreed_, quiet_, result, target};
    try {
      const int code = work(step);
      steps_.push_back({{"step", name}, {"exitCode", code}, {"result", result}});
    } catch (ToolError& failure) {
      Problem& problem = failure.problem();
      steps_.push_back({{"step", name}, {"error", problem.ToJson()}});
      context_.result["steps"] = steps_;
      problem.message =
          fmt::format("Step {} of {} ({}) failed: {}", index_, total_, name, problem.message);
      if (problem.code != "interrupted" && problem.code != "cancelled")
        problem.action += (problem.action.empty() ? "" : " ") +
                          std::string("Or run `orvik fix` again") +
                          (withSet_ ? " with the same set" : "") + ".";
      throw;
    }
    context_.result["steps"] = steps_;
  }

 private:
  OperationContext& context_;
  AgreedEvents agreed_;
  const Settings& quiet_;
  const size_t total_;
  const bool withSet_;  // fix was given a firmware set
  size_t index_ = 0;
  nlohmann::json steps_ = nlohmann::json::array();
};

int BackUpVolume(OperationContext& step, const std::string& backupFile) {
  try {
    return RunBackup(step, {backupFile, false});
  } catch (ToolError& failure) {
    // A volume too damaged to read holds nothing a backup could save.
    if (failure.problem().code != "no-volume") throw;
    step.events.Line("There is no readable file system to back up: going on.");
    return kExitDone;
  }
}

// The backup (when backupFile is not "") and the steps, in one record of the
// journal.
void RunPlannedSteps(OperationContext& context, const Settings& quiet, const Examination& before,
                     const PlayerHealth& health, const std::string& backupFile) {
  const bool backup = !backupFile.empty();
  // A fix that writes an image back carries it in its own record: cut off
  // between its steps, the image is still known to be due.
  const JournalStart start{"fix", nullptr, {}, std::nullopt, backupFile, health.restoreImage};
  RunJournaled(context, before.journalTarget, start, [&](TagVersions*, std::string*) {
    StepRunner runner(context, quiet, health.steps.size() + (backup ? 1 : 0),
                      !before.manifestPath.empty());
    if (backup)
      runner.Run("backup", [&](OperationContext& step) { return BackUpVolume(step, backupFile); });
    for (FixStep step : health.steps)
      runner.Run(FixStepCommand(step),
                 [&](OperationContext& operation) { return RunStep(operation, step, before); });

    return kExitDone;
  });
}

// The check again after the steps, and its verdict as fix's result.
int CheckAgain(OperationContext& context, const Settings& quiet, const FixOptions& options,
               const Examination& before, const std::string& backupFile) {
  Events& events = context.events;
  const bool backup = !backupFile.empty();
  events.Line(events.Paint(Style::kBold, "Checking the player again"));
  nlohmann::json afterTarget = nullptr;
  nlohmann::json afterResult = nlohmann::json::object();
  OperationContext again{events, quiet, afterResult, afterTarget};
  Examination after = ExaminePlayer(again, options.manifest);
  context.result["after"] = after.report;
  if (backup) context.result["backupFile"] = backupFile;
  ShowVerdict(context, after);
  if (backup) events.Line("The files that were on the volume are saved in " + backupFile + ".");
  if (!after.health.Healthy()) {
    if (after.health.starts == "recovery" && !before.simulated)
      events.Line(
          "The player still runs its recovery mode: unplug it and plug it in again so that it "
          "starts the new firmware, then run `orvik check`.");
    return kExitProblemsFound;
  }
  events.Line(events.Paint(Style::kGood, "Fixed:") + " the player is healthy.");
  return kExitDone;
}

}  // namespace

int RunFix(OperationContext& context, const FixOptions& options) {
  Events& events = context.events;
  Examination before = ExaminePlayer(context, options.manifest);
  context.result["before"] = before.report;
  ShowVerdict(context, before);
  PlayerHealth health = before.health;
  // The set fix is given is the one the player should hold: an older one
  // (an update cut off before it changed anything looks so) is brought to it.
  if (health.Healthy() && health.setIsNewer) health.steps.push_back(FixStep::kUpdate);
  if (health.steps.empty()) {
    events.Line(health.Healthy() ? "Nothing to fix." : "Nothing that fix can do.");
    return health.Healthy() ? kExitNothingToDo : kExitProblemsFound;
  }
  if (health.needsSet) RefuseWithoutSet();

  // The plan, asked about once.
  const bool backup = BacksUpFirst(health, options);
  const std::string backupFile = backup ? NewBackupName() : std::string();
  const std::string what = ShowPlan(context, health, backupFile);
  if (context.settings.dryRun) {
    events.Line(events.Paint(Style::kBold, "Dry run:") + " nothing was changed.");
    context.result["dryRun"] = true;
    return kExitDone;
  }
  AskAboutPlan(context, before, health, what, backup, options);

  Settings quiet = context.settings;
  quiet.announceTarget = false;
  RunPlannedSteps(context, quiet, before, health, backupFile);
  return CheckAgain(context, quiet, options, before, backupFile);
}

}  // namespace orvik::tool
