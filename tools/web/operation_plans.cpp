#include "web/operation_plans.h"

#include <functional>

#include "app/backup_name.h"
#include "app/operations.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "web/player_reads.h"

namespace orvik::tool::web {
namespace {

// Events passed on, with the backup already made named beside the question.
class BackedUpEvents : public ForwardedEvents {
 public:
  BackedUpEvents(Events& inner, std::string backup)
      : ForwardedEvents(inner), backup_(std::move(backup)) {}
  void Confirm(const Destruction& destruction) override {
    Destruction noted = destruction;
    noted.backupMade = backup_;
    noted.backupHint.clear();
    inner().Confirm(noted);
  }

 private:
  std::string backup_;
};

using Work = std::function<int(OperationContext&)>;

// Runs one step of a plan in a context of its own and files its result
// under name in the plan's result; a failure names the step.
int RunPlanStep(OperationContext& context, Events& events, const std::string& name,
                const Work& work) {
  Settings settings = context.settings;
  settings.announceTarget = context.target.is_null();
  nlohmann::json result = nlohmann::json::object();
  OperationContext step{events, settings, result, context.target};
  try {
    const int code = work(step);
    context.result[name] = result;
    return code;
  } catch (ToolError& failure) {
    context.result[name] = result;
    failure.problem().details["step"] = name;
    throw;
  }
}

// The backup before a reflash: false when there was no volume to save.
bool BackUpBeforeReflash(OperationContext& context, const std::string& file) {
  try {
    RunPlanStep(context, context.events, "backup", [&](OperationContext& step) {
      return RunBackup(step, {file, false});
    });
    context.result["backupFile"] = file;
    return true;
  } catch (ToolError& failure) {
    // A volume too damaged to read holds nothing a backup could save.
    if (failure.problem().code != "no-volume") throw;
    context.events.Line("There is no readable file system to back up: going on without a backup.");
    return false;
  }
}

int ReflashKeepingFiles(OperationContext& context, const OperationRequest& request) {
  const std::string file = request.file.empty() ? NewBackupName() : request.file;
  const bool saved = BackUpBeforeReflash(context, file);
  BackedUpEvents noted(context.events, saved ? file : std::string());
  ReflashOptions options;
  options.manifest = request.manifest;
  const int code = RunPlanStep(context, noted, "reflash",
                               [&](OperationContext& step) { return RunReflash(step, options); });
  if (!saved) return code;
  context.events.Line("Putting the files back from " + file);
  // The owner agreed to the whole plan with the reflash's question: the
  // restore of the files just saved does not ask again.
  AgreedEvents agreed(context.events);
  return RunPlanStep(context, agreed, "restore", [&](OperationContext& step) {
    return RunRestore(step, RestoreOptions{file});
  });
}

// The update keeps the files, so the terminal does not ask before it; the
// page asks all the same before firmware is written (an owner clicking a
// button expects to say yes to what it changes), but not when the versions
// show there is nothing to write.
int UpdateAfterAsking(OperationContext& context, const OperationRequest& request) {
  const nlohmann::json versions = RunCollected(context.settings, [&](OperationContext& look) {
    return RunVersions(look, request.manifest);
  });
  if (versions["exitCode"] != kExitNothingToDo)
    Confirm(context, TargetText(context.settings.Target()),
            {"orvik update", "write the newer firmware of the set " + request.manifest,
             "nothing: the files on the player stay (its firmware is replaced)", ""});
  UpdateOptions options;
  options.manifest = request.manifest;
  return RunUpdate(context, options);
}

}  // namespace

std::string TerminalCommand(const OperationRequest& request, const TargetOptions& target) {
  std::vector<std::string> words = {"orvik", request.name};
  if (!request.manifest.empty()) words.insert(words.end(), {"--manifest", request.manifest});
  if (request.name == "backup" && !request.file.empty())
    words.insert(words.end(), {"--output", request.file});
  if (request.name == "restore") words.insert(words.end(), {"--input", request.file});
  if (target.device)
    words.push_back("--device");
  else
    words.insert(words.end(), {"--player", target.playerDir});
  if (target.instance >= 0)
    words.insert(words.end(), {"--instance", std::to_string(target.instance)});
  return ShellJoin(words);
}

int RunPlan(OperationContext& context, const OperationRequest& request) {
  const std::string& name = request.name;
  if (name == "update") return UpdateAfterAsking(context, request);
  if (name == "fix") return RunFix(context, FixOptions{request.manifest, false});
  if (name == "backup") {
    const std::string file = request.file.empty() ? NewBackupName() : request.file;
    return RunBackup(context, {file, false});
  }
  if (name == "restore") return RunRestore(context, RestoreOptions{request.file});
  if (name == "reflash" && request.backupFirst) return ReflashKeepingFiles(context, request);
  if (name == "reflash") {
    ReflashOptions options;
    options.manifest = request.manifest;
    return RunReflash(context, options);
  }
  Fail("usage", "There is no operation " + name + ".");
}

}  // namespace orvik::tool::web
