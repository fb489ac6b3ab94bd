#include "terminal/command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "base/exit_codes.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "orvik/posix.h"
#include "target/environment.h"
#include "terminal/commands.h"
#include "terminal/console.h"
#include "terminal/usage_error.h"

namespace orvik::tool {
namespace {

// The options every command takes, as the command line spells them.
struct GlobalOptions {
  std::string player;     // --player (empty: $ORVIK_PLAYER, else the attached player)
  bool device = false;    // --device
  bool recovery = false;  // --recovery
  int instance = -1;      // --instance
  bool json = false;      // --json
  int verbosity = 0;      // -v
  bool yes = false;       // --yes: destructive commands go ahead without asking
  bool dryRun = false;    // --dry-run: say what would be done, change nothing
  ColorMode color = ColorMode::kAuto;
  std::string trustDir;           // --trust-dir (empty: the default trust folder)
  bool requireSignature = false;  // --require-signature
  bool ignoreModel = false;       // --ignore-model: use a set made for other players
};

// The player attached to the computer unless a simulated player's folder is
// named (--player, or $ORVIK_PLAYER); `orvik sim` commands work on a folder
// and fall back to the default one.
TargetOptions TargetOf(const GlobalOptions& global, bool simCommand) {
  TargetOptions target;
  target.playerDir = !global.player.empty() ? global.player
                     : simCommand           ? DefaultSimulatedPlayerDir()
                                            : PlayerFolderFromEnvironment();
  target.device = global.device || (target.playerDir.empty() && !simCommand);
  target.recovery = global.recovery;
  target.instance = global.instance;
  return target;
}

const char* kFooter = R"(Target: the player attached to the computer (its device objects: the
player's driver on Windows, sockets in $ORVIK_DEVICE_DIR on POSIX, e.g. a
player served by `orvik sim serve`), looked for as its normal object, then
as its recovery object.  --player DIR (or $ORVIK_PLAYER) works on a
simulated player kept in a folder instead (`orvik sim create` makes one).

Commands that destroy data ask first on a terminal; --yes answers for
them, and without a terminal they refuse unless --yes is given.
--dry-run shows what a command would change and changes nothing.

Exit codes: 0 done (check: the player is healthy), 1 failed (the message
says why and what to do), 2 nothing to do (e.g. firmware already up to
date), 3 problems found (check, verify: each is listed with its fix),
4 could not check (no player answered), 5 done but not confirmed (reading
the result back failed: run `orvik check`), 64 wrong command line (or a
destructive command without --yes and no terminal), 130 stopped by Ctrl-C
after the running step.

Firmware sets may be signed: a signed set is used only when its key is in
the trust folder (--trust-dir, else $XDG_CONFIG_HOME/orvik/keys or
~/.config/orvik/keys); unsigned sets are used with a note unless
--require-signature is given or the file require-signature exists in
that configuration folder.

Environment: ORVIK_PLAYER, ORVIK_DEVICE_DIR, ORVIK_REGISTRY (reservation file),
ORVIK_JOURNAL (the history's journal file), XDG_CONFIG_HOME, XDG_STATE_HOME,
NO_COLOR, ORVIK_DEBUG (library debug texts on standard error).)";

// The tool's version (that of the headers it was built with) and the one the
// library it runs reports, which a mismatched build would show apart.
std::string VersionText() {
  const ORVIK_ULONG library = OrvikPosixLibraryVersion();
  return std::string("orvik ") + ORVIK_VERSION + "\nlibrary " + std::to_string(library >> 16) +
         "." + std::to_string((library >> 8) & 0xFFu) + "." + std::to_string(library & 0xFFu);
}

// The options every command takes; color is parsed into global.color after.
void AddGlobalOptions(CLI::App& app, GlobalOptions& global, std::string& color) {
  app.add_option("--player", global.player, "folder of the simulated player to work on");
  app.add_flag("--device", global.device,
               "use the platform's device objects, not a simulated player");
  app.add_flag("--recovery", global.recovery, "open the player's recovery device object");
  app.add_option("--instance", global.instance, "device object number (default: try 0 to 99)")
      ->check(CLI::Range(0, 99));
  app.add_flag("--json", global.json,
               "print one JSON document and nothing else on standard output");
  app.add_flag("-v,--verbose", global.verbosity,
               "show each step (and a simulated player's exchanges) on standard error");
  app.add_option("--color", color, "colours: auto, always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  app.add_flag("-y,--yes", global.yes, "go ahead with a command that destroys data without asking");
  app.add_flag("-n,--dry-run", global.dryRun,
               "show what the command would change, and change nothing");
  app.add_option("--trust-dir", global.trustDir,
                 "folder of the public keys whose signed firmware sets are trusted (default: "
                 "$XDG_CONFIG_HOME/orvik/keys)");
  app.add_flag("--require-signature", global.requireSignature,
               "refuse firmware sets that are not signed");
  app.add_flag("--ignore-model", global.ignoreModel,
               "use a firmware set made for other players (asks first before it writes)");
}

bool ArgumentsAskForJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--json") == 0) return true;
  return false;
}

// The command as given, quoted, without --json: for "run it again" advice.
std::string CommandLineText(int argc, const char* const* argv) {
  std::vector<std::string> words = {"orvik"};
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--json") != 0) words.push_back(argv[i]);
  return ShellJoin(words);
}

std::string CommandPath(CLI::App& app) {
  std::string path;
  CLI::App* current = &app;
  while (true) {
    std::vector<CLI::App*> chosen = current->get_subcommands();
    if (chosen.empty()) break;
    current = chosen.front();
    path += (path.empty() ? "" : " ") + current->get_name();
  }
  return path;
}

void PrintProblem(const Console& console, const Problem& problem) {
  auto paint = [&](Style style, const std::string& text) {
    return console.Colored() ? console.Paint(style, text) : text;
  };
  std::fprintf(stderr, "%s %s\n", paint(Style::kBad, "error:").c_str(), problem.message.c_str());
  if (!problem.cause.empty())
    std::fprintf(stderr, "  %s %s\n", paint(Style::kDim, "cause:").c_str(), problem.cause.c_str());
  if (!problem.playerState.empty())
    std::fprintf(stderr, "  %s %s\n", paint(Style::kDim, "player:").c_str(),
                 problem.playerState.c_str());
  if (!problem.action.empty())
    std::fprintf(stderr, "  %s %s\n", paint(Style::kDim, "what to do:").c_str(),
                 problem.action.c_str());
}

// Runs the command and turns every failure into the problem to report.
int RunChosen(const CommandRunner& run, OperationContext& context,
              std::optional<Problem>& problem) {
  int exitCode = kExitFailed;
  try {
    exitCode = run(context);
  } catch (const ToolError& failure) {
    problem = failure.problem();
  } catch (const std::exception& failure) {
    Problem internal;
    internal.code = "internal";
    internal.message = std::string("The tool failed unexpectedly: ") + failure.what();
    internal.action = "Run the command again with -v and report the output.";
    problem = internal;
  }
  if (problem && InterruptRequested() && problem->exitCode == kExitFailed) {
    // The step that was running when Ctrl-C came failed on its own; its
    // words say what state it left, and the run ends as interrupted.
    problem->exitCode = kExitInterrupted;
    problem->details["interrupted"] = true;
  }
  return problem ? problem->exitCode : exitCode;
}

// `orvik --list-commands` (not in the help): every command and group the
// line registers, "PATH<tab>DESCRIPTION" a line, depth first.  The build
// makes a manual page of each from this list, so none is forgotten.
void ListCommands(const CLI::App& parent, const std::string& prefix) {
  for (const CLI::App* command : parent.get_subcommands({})) {
    const std::string path = prefix + command->get_name();
    std::cout << path << '\t' << command->get_description() << '\n';
    ListCommands(*command, path + " ");
  }
}

// The parse; help, the version and a wrong command line end the run here
// with their exit code.
std::optional<int> ParseArguments(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& failure) {
    return ReportUsageError(app, failure, argc, argv, ArgumentsAskForJson(argc, argv));
  }
  return std::nullopt;
}

// The settings of the chosen command from the parsed global options.
Settings SettingsOf(CLI::App& app, const GlobalOptions& global, int argc, const char* const* argv) {
  Settings settings;
  settings.commandLine = CommandLineText(argc, argv);
  const std::string commandPath = CommandPath(app);
  settings.target = TargetOf(global, commandPath.rfind("sim", 0) == 0);
  settings.dryRun = global.dryRun;
  settings.target.dryRun = global.dryRun;
  settings.trust = ResolveTrustOptions(global.trustDir, global.requireSignature);
  settings.ignoreModel = global.ignoreModel;
  return settings;
}

// --json: the one document on standard output.
void PrintJsonDocument(CLI::App& app, int exitCode, const nlohmann::json& target,
                       const nlohmann::json& result, const std::optional<Problem>& problem) {
  nlohmann::json document = {{"command", CommandPath(app)},
                             {"ok", !problem.has_value()},
                             {"exitCode", exitCode},
                             {"target", target},
                             {"result", result},
                             {"error", problem ? problem->ToJson() : nlohmann::json(nullptr)}};
  std::cout << document.dump(2) << "\n";
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv) {
  KeepRunningWhenOutputCloses();
  // Named outright, so that help (and the manual page made from it) says
  // "orvik" whatever path or alias started the program.
  CLI::App app{"orvik: inspect, update and format a player through the Orvik library", "orvik"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", VersionText(), "print the tool's and the library's versions");
  GlobalOptions global;
  std::string color = "auto";
  AddGlobalOptions(app, global, color);
  CommandTable commands;
  RegisterCommands(commands, app);
  if (argc == 2 && std::strcmp(argv[1], "--list-commands") == 0) {
    ListCommands(app, "");
    return kExitDone;
  }
  if (const std::optional<int> ended = ParseArguments(app, argc, argv)) return *ended;

  global.color = color == "always"  ? ColorMode::kAlways
                 : color == "never" ? ColorMode::kNever
                                    : ColorMode::kAuto;
  if (global.verbosity > 0) SetProcessEnvironment("ORVIK_DEBUG", "1");
  const Settings settings = SettingsOf(app, global, argc, argv);
  Console console(global.json, global.color, global.verbosity, global.yes);
  nlohmann::json result = nlohmann::json::object();
  nlohmann::json target = nullptr;
  OperationContext context{console, settings, result, target};
  const CommandRunner* run = commands.Chosen();
  if (run == nullptr) return kExitUsage;  // every group requires one of its commands
  std::optional<Problem> problem;
  const int exitCode = RunChosen(*run, context, problem);

  if (global.json)
    PrintJsonDocument(app, exitCode, target, result, problem);
  else if (problem)
    PrintProblem(console, *problem);
  return exitCode;
}

}  // namespace orvik::tool
