// orvik: inspect, update and format a player (real or simulated) through
// the Orvik library.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "cli/interruption.h"
#include "cli/shell_quote.h"
#include "commands/commands.h"
#include "orvik/posix.h"
#include "output/tool_error.h"
#include "target/environment.h"

using namespace orvik::tool;

namespace {

const char* kFooter = R"(Targets: a simulated player kept in a folder is the default (--player DIR,
made by `orvik sim create`; without --player: $ORVIK_PLAYER or
~/.local/share/orvik/player, made on first use).
--device opens the platform's device objects instead (sockets in
$ORVIK_DEVICE_DIR on POSIX, e.g. a player served by `orvik sim serve`).

Commands that destroy data ask first on a terminal; --yes answers for
them, and without a terminal they refuse unless --yes is given.
--dry-run shows what a command would change and changes nothing.

Exit codes: 0 done, 1 failed (the message says why and what to do),
2 nothing to do (e.g. firmware already up to date), 64 wrong command line
(or a destructive command without --yes and no terminal), 130 stopped by
Ctrl-C after the running step.

Environment: ORVIK_PLAYER, ORVIK_DEVICE_DIR, ORVIK_REGISTRY (reservation file),
NO_COLOR, ORVIK_DEBUG (library debug texts on standard error).)";

void AddFaultOptions(CLI::App* command, orvik::sim::program::FaultOptions* faults) {
  command->add_option("--erase-fail", faults->eraseFailures,
                      "BLOCK[:AFTER]: erasing the block fails (after AFTER good erases)");
  command->add_option("--weak-page", faults->weakPages,
                      "PAGE[:AFTER]: the page stops keeping what is written");
  command->add_option("--bit-flip-probability", faults->bitFlipProbability,
                      "chance that a page read returns one flipped bit (0..1)");
  command->add_option("--fail-transfer", faults->transferFaults,
                      "N:KIND[:DELAY_MS]: transfer N goes wrong (error, short, stall, late, "
                      "disconnect)");
  command->add_option("--power-cut-after", faults->powerCutAfter,
                      "power is lost after this many transfers");
  command->add_option("--card-fail", faults->cardFailures, "card command code (0..10) that fails");
}

// The word CLI11 could not place: the first word that is neither an
// option, an option's value nor a known command, and the command whose
// subcommands it should have named.  Empty when there is none.
std::string UnknownCommandWord(const CLI::App& app, int argc, char** argv,
                               const CLI::App** parent) {
  const CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("-", 0) == 0) {
      const bool takesValue = word == "--player" || word == "--instance" || word == "--color";
      if (takesValue && word.find('=') == std::string::npos) ++i;
      continue;
    }
    const std::vector<const CLI::App*> commands = current->get_subcommands({});
    if (commands.empty()) return {};  // a command's own positional values
    bool known = false;
    for (const CLI::App* sub : commands)
      if (sub->get_name() == word) {
        current = sub;
        known = true;
        break;
      }
    if (!known) {
      *parent = current;
      return word;
    }
  }
  return {};
}

std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return names;
}

// The tool's version (that of the headers it was built with) and the one the
// library it runs reports, which a mismatched build would show apart.
std::string VersionText() {
  const ORVIK_ULONG library = OrvikPosixLibraryVersion();
  return std::string("orvik ") + ORVIK_VERSION + "\nlibrary " + std::to_string(library >> 16) +
         "." + std::to_string((library >> 8) & 0xFFu) + "." + std::to_string(library & 0xFFu);
}

bool ArgumentsAskForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--json") == 0) return true;
  return false;
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

}  // namespace

TargetOptions GlobalOptions::Target() const {
  TargetOptions target;
  target.playerDir = player.empty() ? DefaultPlayerDir() : player;
  target.device = device;
  target.recovery = recovery;
  target.instance = instance;
  target.defaultFolder = player.empty();
  return target;
}

int main(int argc, char** argv) {
  CLI::App app{"orvik: inspect, update and format a player through the Orvik library"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", VersionText(), "print the tool's and the library's versions");

  GlobalOptions global;
  std::string color = "auto";
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

  // --- the player ---
  uint32_t cardDrive = 0;
  CLI::App* info = app.add_subcommand("info", "Device, flash, card and reservation of the player");
  info->add_option("--card-drive", cardDrive, "device-side drive number of the card (default 0)");

  BlocksOptions blocks;
  CLI::App* blocksCommand =
      app.add_subcommand("blocks", "Block map of the flash: good, bad, CIS and system blocks");
  blocksCommand->add_option("--manifest", blocks.manifest,
                            "also find each file's blocks by its tag");
  blocksCommand->add_option("--width", blocks.perRow, "blocks per row (default 64)")
      ->check(CLI::Range(8, 256));
  bool noGrid = false;
  blocksCommand->add_flag("--no-grid", noGrid, "only the counts");

  std::string versionsManifest;
  CLI::App* versions = app.add_subcommand(
      "versions", "Versions of a firmware set against those stored on the player");
  versions->add_option("--manifest", versionsManifest, "the firmware set's manifest.json")
      ->required();

  std::string backupOutput;
  CLI::App* backup = app.add_subcommand(
      "backup", "Save the player's FAT volume as an image file (read by mtools, fsck.fat)");
  backup->add_option("--output", backupOutput, "image file to write (must not exist)")->required();

  std::string verifyManifest;
  CLI::App* verify = app.add_subcommand(
      "verify", "Compare the whole system area byte for byte with a firmware set");
  verify->add_option("--manifest", verifyManifest, "the firmware set's manifest.json")->required();

  // --- firmware and formats ---
  UpdateOptions update;
  CLI::App* updateCommand =
      app.add_subcommand("update", "Update the firmware without formatting (keeps the files)");
  updateCommand->add_option("--manifest", update.manifest, "the firmware set's manifest.json")
      ->required();
  updateCommand->add_flag("--force", update.force, "write even when every version is up to date");
  updateCommand->add_option("--allow-removing", update.allowRemoving,
                            "let the update drop the player's file with this tag (repeatable)");
  updateCommand->add_flag("--repair", update.repair,
                          "repair an update that was cut off, taking the configured reservation "
                          "as the one the player was laid out with (asks first)");

  ReflashOptions reflash;
  CLI::App* reflashCommand = app.add_subcommand(
      "reflash", "Full reflash: lay out the flash anew, write the firmware and an empty volume");
  reflashCommand->add_option("--manifest", reflash.manifest, "the firmware set's manifest.json")
      ->required();
  reflashCommand->add_flag("--erase-data", reflash.eraseData, "also erase the data area");
  reflashCommand->add_flag("--size-from-registry", reflash.sizeFromRegistry,
                           "size the volume from the reservation, not the system blocks found");
  uint32_t reflashReserve = 0;
  auto* reflashReserveOption = reflashCommand->add_option(
      "--reserve", reflashReserve,
      "kilobytes to reserve for the firmware (instead of the manifest's), 1 to 4194303");
  reflashReserveOption->check(CLI::Range(1u, 4194303u));

  bool quickSizeFromRegistry = false;
  CLI::App* quick =
      app.add_subcommand("quick-format", "Write an empty file system (the firmware stays)");
  quick->add_flag("--size-from-registry", quickSizeFromRegistry,
                  "size the volume from the reservation, not the system blocks found");

  FullFormatOptions fullOptions;
  CLI::App* full =
      app.add_subcommand("full-format",
                         "Erase the flash and lay the system area out anew (with --manifest: and "
                         "write the firmware)");
  full->add_option("--manifest", fullOptions.manifest, "also write this firmware set");
  uint32_t fullReserve = 0;
  auto* fullReserveOption = full->add_option(
      "--reserve", fullReserve,
      "kilobytes to reserve for the firmware (instead of the manifest's), 1 to 4194303");
  fullReserveOption->check(CLI::Range(1u, 4194303u));

  CLI::App* eraseData =
      app.add_subcommand("erase-data", "Erase every good block after the first zone");

  // --- the card ---
  CLI::App* card = app.add_subcommand("card", "The MMC card in the player's slot");
  card->require_subcommand(1);
  CardOptions cardOptions;
  auto addDrive = [&](CLI::App* command) {
    command->add_option("--drive", cardOptions.drive, "device-side drive number (default 0)");
  };
  CLI::App* cardInfo = card->add_subcommand("info", "Capacity and registers (CID, CSD, OCR)");
  addDrive(cardInfo);
  CLI::App* cardRead = card->add_subcommand("read", "Read blocks into a file");
  addDrive(cardRead);
  cardRead->add_option("--block", cardOptions.block, "first block (default 0)");
  cardRead->add_option("--count", cardOptions.count, "blocks (default: to the end of the card)");
  cardRead->add_option("--out", cardOptions.file, "file to write")->required();
  CLI::App* cardWrite = card->add_subcommand("write", "Write a file to blocks");
  addDrive(cardWrite);
  cardWrite->add_option("--block", cardOptions.block, "first block (default 0)");
  cardWrite->add_option("--in", cardOptions.file, "file to write to the card")->required();
  cardWrite->add_flag("--pad", cardOptions.pad, "fill a short last block with zeros");
  CLI::App* cardErase = card->add_subcommand("erase", "Erase blocks, the file-system area or all");
  addDrive(cardErase);
  auto* eraseBlock = cardErase->add_option("--block", cardOptions.block, "first block");
  cardErase->add_option("--count", cardOptions.count, "blocks (default 1)")->needs(eraseBlock);
  auto* eraseAll = cardErase->add_flag("--all", cardOptions.all, "the whole card");
  auto* eraseFs =
      cardErase->add_flag("--file-system", cardOptions.fileSystem, "the file-system area only");
  eraseAll->excludes(eraseFs)->excludes(eraseBlock);
  eraseFs->excludes(eraseBlock);
  CLI::App* cardFormat = card->add_subcommand("format", "Write an empty FAT volume on the card");
  addDrive(cardFormat);

  // --- the reservation ---
  ReserveOptions reserve;
  CLI::App* reserveCommand = app.add_subcommand(
      "reserve", "Show or set the flash space reserved for the firmware (TotalKiloBytesReserved)");
  reserveCommand->add_option("kilobytes", reserve.kiloBytes, "kilobytes to reserve");
  auto* reserveFrom =
      reserveCommand->add_option("--manifest", reserve.manifest, "take the manifest's value");
  auto* reserveClear = reserveCommand->add_flag("--clear", reserve.clear, "remove the setting");
  reserveClear->excludes(reserveFrom);

  // --- simulated players ---
  CLI::App* simCommand = app.add_subcommand("sim", "Simulated players: create, serve, inspect");
  simCommand->require_subcommand(1);
  SimCreateOptions create;
  uint32_t badBlockCount = 0;
  CLI::App* simCreate = simCommand->add_subcommand("create", "Create a new simulated player");
  simCreate->add_option("--flash-type", create.flashType, "flash type 0..35 (default 7, 64 MB)");
  auto* badList =
      simCreate->add_option("--bad-blocks", create.badBlocks, "factory bad blocks, e.g. 5,900");
  auto* badCount = simCreate->add_option("--bad-block-count", badBlockCount,
                                         "factory bad blocks chosen at random (default 2)");
  (void)badList;
  long long cardMiBValue = 0;
  auto* cardMiB =
      simCreate->add_option("--card-mib", cardMiBValue, "card size in MiB, 1 to 2048 (default 32)");
  auto* noCard = simCreate->add_flag("--no-card", create.noCard, "an empty card slot");
  cardMiB->excludes(noCard);
  simCreate->add_flag("--recovery", create.recovery, "start in recovery mode");
  simCreate->add_option("--instance", create.instance, "device object number (default 0)")
      ->check(CLI::Range(0, 99));
  simCreate->add_option("--seed", create.seed, "seed of the random choices (default 1)");
  simCreate->add_flag("--force", create.force, "replace a player already in the folder");
  AddFaultOptions(simCreate, &create.faults);

  std::string deviceDir;
  bool noSave = false;
  CLI::App* simServe =
      simCommand->add_subcommand("serve", "Serve the player as a device object until stopped");
  simServe->add_option("--device-dir", deviceDir, "socket folder (default $ORVIK_DEVICE_DIR)");
  simServe->add_flag("--no-save", noSave, "leave the folder as it was");

  bool clearFaults = false;
  orvik::sim::program::FaultOptions faults;
  CLI::App* simFaults = simCommand->add_subcommand(
      "faults", "Set faults for the next commands (failing erases, weak pages, transfer faults)");
  simFaults->add_flag("--clear", clearFaults, "remove every fault setting first");
  AddFaultOptions(simFaults, &faults);

  bool toRecovery = false, toNormal = false;
  CLI::App* simMode =
      simCommand->add_subcommand("mode", "Put the player in recovery or normal mode");
  auto* recoveryFlag = simMode->add_flag("--recovery-mode", toRecovery, "recovery mode");
  auto* normalFlag = simMode->add_flag("--normal-mode", toNormal, "normal mode");
  recoveryFlag->excludes(normalFlag);
  simMode->require_option(1);

  uint32_t inspectWidth = 64;
  CLI::App* simInspect = simCommand->add_subcommand(
      "inspect", "Block map, system-area files, file system and ECC of the player's flash");
  simInspect->add_option("--width", inspectWidth, "blocks per row (default 64)")
      ->check(CLI::Range(8, 256));
  std::string imagePath;
  CLI::App* simExport = simCommand->add_subcommand(
      "export-fat", "Export the flash's FAT volume as a plain image for standard FAT tools");
  simExport->add_option("--out", imagePath, "image file to write")->required();
  CLI::App* simEcc = simCommand->add_subcommand("ecc", "ECC check of every data page");
  std::string extractDir;
  CLI::App* simFiles = simCommand->add_subcommand(
      "files", "Firmware files in the system area: tags, blocks, stored versions");
  simFiles->add_option("--extract", extractDir, "write each stored copy's image into this folder");

  const bool jsonWanted = ArgumentsAskForJson(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& parseFailure) {
    std::string what = parseFailure.what();
    const CLI::App* parent = &app;
    const std::string unknown = UnknownCommandWord(app, argc, argv, &parent);
    if (!unknown.empty())
      what =
          "\"" + unknown + "\" is not a command (the commands are: " + CommandNames(*parent) + ")";
    if (jsonWanted) {
      nlohmann::json document = {
          {"command", nullptr},
          {"ok", false},
          {"exitCode", kExitUsage},
          {"target", nullptr},
          {"result", nullptr},
          {"error", {{"code", "usage"}, {"message", what}, {"action", "See `orvik --help`."}}}};
      std::cout << document.dump(2) << "\n";
    } else {
      std::cerr << "orvik: " << what
                << "\nRun `orvik --help` (or `orvik COMMAND "
                   "--help`) to see the commands and options.\n";
    }
    return kExitUsage;
  }

  {
    std::vector<std::string> words = {"orvik"};
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], "--json") != 0) words.push_back(argv[i]);
    global.commandLine = ShellJoin(words);
  }
  global.color = color == "always"  ? ColorMode::kAlways
                 : color == "never" ? ColorMode::kNever
                                    : ColorMode::kAuto;
  create.badBlockCount =
      badCount->count() > 0 ? std::optional<uint32_t>(badBlockCount) : std::nullopt;
  if (cardMiB->count() > 0) create.cardMiB = cardMiBValue;
  cardOptions.blockGiven = eraseBlock->count() > 0;
  if (reflashReserveOption->count() > 0) reflash.reserveKiloBytes = reflashReserve;
  if (fullReserveOption->count() > 0) fullOptions.reserveKiloBytes = fullReserve;
  blocks.grid = !noGrid;
  if (global.verbosity > 0) SetProcessEnvironment("ORVIK_DEBUG", "1");

  Console console(global.json, global.color, global.verbosity);
  nlohmann::json result = nlohmann::json::object();
  nlohmann::json target = nullptr;
  CommandContext context{console, global, result, target};
  const std::string command = CommandPath(app);
  int exitCode = kExitFailed;
  std::optional<Problem> problem;
  try {
    if (info->parsed())
      exitCode = RunInfo(context, static_cast<uint8_t>(cardDrive));
    else if (blocksCommand->parsed())
      exitCode = RunBlocks(context, blocks);
    else if (versions->parsed())
      exitCode = RunVersions(context, versionsManifest);
    else if (backup->parsed())
      exitCode = RunBackup(context, backupOutput);
    else if (verify->parsed())
      exitCode = RunVerify(context, verifyManifest);
    else if (updateCommand->parsed())
      exitCode = RunUpdate(context, update);
    else if (reflashCommand->parsed())
      exitCode = RunReflash(context, reflash);
    else if (quick->parsed())
      exitCode = RunQuickFormat(context, quickSizeFromRegistry);
    else if (full->parsed())
      exitCode = RunFullFormat(context, fullOptions);
    else if (eraseData->parsed())
      exitCode = RunEraseData(context);
    else if (cardInfo->parsed())
      exitCode = RunCardInfo(context, cardOptions);
    else if (cardRead->parsed())
      exitCode = RunCardRead(context, cardOptions);
    else if (cardWrite->parsed())
      exitCode = RunCardWrite(context, cardOptions);
    else if (cardErase->parsed())
      exitCode = RunCardErase(context, cardOptions);
    else if (cardFormat->parsed())
      exitCode = RunCardFormat(context, cardOptions);
    else if (reserveCommand->parsed())
      exitCode = RunReserve(context, reserve);
    else if (simCreate->parsed())
      exitCode = RunSimCreate(context, create);
    else if (simServe->parsed())
      exitCode = RunSimServe(context, deviceDir, !noSave);
    else if (simFaults->parsed())
      exitCode = RunSimFaults(context, clearFaults, faults);
    else if (simMode->parsed())
      exitCode = RunSimMode(context, toRecovery);
    else if (simInspect->parsed())
      exitCode = RunSimInspect(context, inspectWidth);
    else if (simExport->parsed())
      exitCode = RunSimExportFat(context, imagePath);
    else if (simEcc->parsed())
      exitCode = RunSimEcc(context);
    else if (simFiles->parsed())
      exitCode = RunSimFiles(context, extractDir);
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
  if (problem) exitCode = problem->exitCode;

  if (global.json) {
    nlohmann::json document = {
        {"command", command},   {"ok", !problem.has_value()},
        {"exitCode", exitCode}, {"target", target},
        {"result", result},     {"error", problem ? problem->ToJson() : nlohmann::json(nullptr)}};
    std::cout << document.dump(2) << "\n";
  } else if (problem) {
    PrintProblem(console, *problem);
  }
  return exitCode;
}
