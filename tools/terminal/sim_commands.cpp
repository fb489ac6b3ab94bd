// How `orvik sim` and its commands join the command line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "app/operations.h"
#include "terminal/commands.h"

namespace orvik::tool {

namespace {

// `orvik sim --help` shows every command of the group with its options, so
// that one page lists everything a simulated player can be told.
class WholeGroupHelp : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App* command) const override {
    return make_expanded(command);
  }
};

void RegisterSimSettingsCommands(CommandTable& table, CLI::App& sim) {
  struct FaultsLine {
    bool clear = false;
    FaultOptions faults;
    BusTimingOptions bus;
  };
  auto faults = table.Hold<FaultsLine>();
  CLI::App* faultsCommand = table.Add(
      sim, "faults",
      "Set faults for the next commands (failing erases, weak pages, transfer faults) and the "
      "bus timing",
      [faults](OperationContext& context) {
        return RunSimFaults(context, faults->clear, faults->faults, faults->bus);
      });
  faultsCommand->add_flag("--clear", faults->clear,
                          "remove every fault setting first (the bus timing stays)");
  AddFaultOptions(*faultsCommand, faults->faults);
  AddBusTimingOptions(*faultsCommand, faults->bus);

  struct ModeLine {
    bool recovery = false;
    bool normal = false;  // the other choice: only its presence counts
  };
  auto modeLine = table.Hold<ModeLine>();
  CLI::App* mode = table.Add(
      sim, "mode", "Put the player in recovery or normal mode",
      [modeLine](OperationContext& context) { return RunSimMode(context, modeLine->recovery); });
  CLI::Option* recoveryFlag =
      mode->add_flag("--recovery-mode", modeLine->recovery, "recovery mode");
  CLI::Option* normalFlag = mode->add_flag("--normal-mode", modeLine->normal, "normal mode");
  recoveryFlag->excludes(normalFlag);
  mode->require_option(1);

  table.Add(sim, "info",
            "What the player was made with (flash, identity, card, faults, bus timing) and how "
            "it starts",
            RunSimInfo);
}

void RegisterSimReplugCommand(CommandTable& table, CLI::App& sim) {
  table.Add(sim, "replug",
            "Unplug the player and plug it in anew: its startup check decides how it comes up "
            "(a served player is replugged by its server)",
            RunSimReplug);
}

}  // namespace

void RegisterSimCommands(CommandTable& table, CLI::App& app) {
  CLI::App* sim = app.add_subcommand("sim", "Simulated players: create, serve, inspect");
  sim->require_subcommand(1);
  sim->footer(
      "Every command works on the player in the folder given with --player DIR (default:\n"
      "$ORVIK_PLAYER, or ~/.local/share/orvik/player).  -v shows the player's exchanges, --json\n"
      "prints one JSON document; `orvik --help` lists every option all commands take.");
  RegisterSimCreateCommand(table, *sim);
  RegisterSimServeCommand(table, *sim);
  RegisterSimSettingsCommands(table, *sim);
  RegisterSimReplugCommand(table, *sim);
  RegisterSimInspectCommands(table, *sim);
  sim->formatter(std::make_shared<WholeGroupHelp>());
}

void RegisterSimCreateCommand(CommandTable& table, CLI::App& sim) {
  auto options = table.Hold<SimCreateOptions>();
  CLI::App* create =
      table.Add(sim, "create", "Create a new simulated player",
                [options](OperationContext& context) { return RunSimCreate(context, *options); });
  create->add_option("--flash-type", options->flashType, "flash type 0..35 (default 7, 64 MB)");
  create->add_option("--maker-code", options->makerCode,
                     "maker code the flash answers to read-ID (default: the type's)");
  create->add_option("--device-code", options->deviceCode,
                     "device code the flash answers to read-ID (default: the type's)");
  create->add_option("--bad-blocks", options->badBlocks, "factory bad blocks, e.g. 5,900");
  create->add_option("--bad-block-count", options->badBlockCount,
                     "factory bad blocks chosen at random (default 2)");
  CLI::Option* cardMiB = create->add_option("--card-mib", options->cardMiB,
                                            "card size in MiB, 1 to 2048 (default 32)");
  CLI::Option* cardBlocks =
      create->add_option("--card-blocks", options->cardBlocks, "card size in 512-byte blocks");
  CLI::Option* noCard = create->add_flag("--no-card", options->noCard, "an empty card slot");
  cardMiB->excludes(cardBlocks)->excludes(noCard);
  cardBlocks->excludes(noCard);
  create->add_flag("--recovery", options->recovery, "force recovery mode");
  create->add_flag("--unprogrammed", options->unprogrammed,
                   "a never-programmed player: no startup copy, so it comes up as its recovery "
                   "device (default: it starts as delivered until its first whole startup copy)");
  create->add_option("--instance", options->instance, "device object number (default 0)")
      ->check(CLI::Range(0, 99));
  create->add_option("--dcc-version", options->dccVersion,
                     "DCC version in the device description (default 0x101)");
  create->add_option("--info-tag0", options->infoTag0,
                     "tag 0 of the device description (default 0x101)");
  create->add_option("--info-tag2", options->infoTag2,
                     "tag 2 of the device description (default 0)");
  create->add_option("--seed", options->seed, "seed of the random choices (default 1)");
  create->add_flag("--force", options->force, "replace a player already in the folder");
  AddFaultOptions(*create, options->faults);
  AddBusTimingOptions(*create, options->bus);
}

void RegisterSimServeCommand(CommandTable& table, CLI::App& sim) {
  struct ServeOptions {
    std::string deviceDir;  // empty: $ORVIK_DEVICE_DIR
    bool noSave = false;    // leave the folder as it was
  };
  auto options = table.Hold<ServeOptions>();
  CLI::App* serve = table.Add(sim, "serve", "Serve the player as a device object until stopped",
                              [options](OperationContext& context) {
                                return RunSimServe(context, options->deviceDir, !options->noSave);
                              });
  serve->add_option("--device-dir", options->deviceDir,
                    "socket folder (default $ORVIK_DEVICE_DIR)");
  serve->add_flag("--no-save", options->noSave, "leave the folder as it was");
}

void RegisterSimInspectCommands(CommandTable& table, CLI::App& sim) {
  auto perRow = table.Hold<uint32_t>(64);
  CLI::App* inspect = table.Add(
      sim, "inspect", "Block map, system-area files, file system and ECC of the player's flash",
      [perRow](OperationContext& context) { return RunSimInspect(context, *perRow); });
  inspect->add_option("--width", *perRow, "blocks per row (default 64)")->check(CLI::Range(8, 256));

  auto image = table.Hold<OutputFile>();
  CLI::App* exportFat = table.Add(
      sim, "export-fat", "Export the flash's FAT volume as a plain image for standard FAT tools",
      [image](OperationContext& context) { return RunSimExportFat(context, *image); });
  exportFat->add_option("--out", image->path, "image file to write (not one already there)")
      ->required();
  exportFat->add_flag("--force", image->force, "replace the file if it exists");

  table.Add(sim, "ecc", "ECC check of every data page", RunSimEcc);

  auto extract = table.Hold<OutputFile>();
  CLI::App* files =
      table.Add(sim, "files", "Firmware files in the system area: tags, blocks, stored versions",
                [extract](OperationContext& context) { return RunSimFiles(context, *extract); });
  files->add_option("--extract", extract->path, "write each stored copy's image into this folder");
  files->add_flag("--force", extract->force, "replace images already in that folder");
}

void AddBusTimingOptions(CLI::App& command, BusTimingOptions& options) {
  command
      .add_option("--bus-timing", options.timing,
                  "full-speed: transfers take the time a full-speed USB player needs; off "
                  "(default): no waiting")
      ->check(CLI::IsMember({"full-speed", "off"}));
  command.add_option("--bus-transfer-us", options.transferMicros,
                     "N: bus time of every transfer besides its bytes, in microseconds");
  command.add_option("--bus-byte-ns", options.byteNanos,
                     "N: bus time of every byte moved, in nanoseconds");
  command.add_option("--bus-control-us", options.controlMicros,
                     "N: bus time of every control request, in microseconds");
}

void AddFaultOptions(CLI::App& command, FaultOptions& faults) {
  command.add_option("--erase-fail", faults.eraseFailures,
                     "BLOCK[:AFTER]: erasing the block fails (after AFTER good erases)");
  command.add_option("--weak-page", faults.weakPages,
                     "PAGE[:AFTER]: the page stops keeping what is written (after AFTER programs)");
  command.add_option("--bit-flip-probability", faults.bitFlipProbability,
                     "chance that a page read returns one flipped bit (0..1)");
  command.add_option("--fail-transfer", faults.transferFaults,
                     "N:KIND[:DELAY_MS]: transfer N goes wrong (error, short, stall, late, "
                     "disconnect)");
  command.add_option("--power-cut-after", faults.powerCutAfter,
                     "N: power is lost after transfer N");
  command.add_option("--card-fail", faults.cardFailures, "card command code (0..10) that fails");
  command.add_option("--reconfigure-refusals", faults.reconfigureRefusals,
                     "N: the driver refuses the next N reconfigure requests");
}

}  // namespace orvik::tool
