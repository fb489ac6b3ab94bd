// orvik-sim: create, inspect and serve simulated players kept in folders.
#include <CLI/CLI.hpp>
#include <iostream>

#include "sim/program/commands.h"

using namespace orvik::sim::program;

namespace {

void AddFaultOptions(CLI::App* command, FaultOptions* faults) {
  command->add_option("--erase-fail", faults->eraseFailures,
                      "BLOCK[:AFTER]: erase of the block fails (after AFTER good erases)");
  command->add_option(
      "--weak-page", faults->weakPages,
      "PAGE[:AFTER]: the page stops keeping what is written (after AFTER programs)");
  command->add_option("--bit-flip-probability", faults->bitFlipProbability,
                      "chance that a page read returns a flipped bit (0..1)");
  command->add_option("--fail-transfer", faults->transferFaults,
                      "N:KIND[:DELAY_MS]: transfer N goes wrong (error, short, stall, late, "
                      "disconnect)");
  command->add_option("--power-cut-after", faults->powerCutAfter,
                      "power is lost after this transfer");
  command->add_option("--card-fail", faults->cardFailures,
                      "card command code (0..10) the card fails");
  command->add_option("--reconfigure-refusals", faults->reconfigureRefusals,
                      "reconfigure requests the driver refuses");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated players for the orvik library and host tool"};
  app.require_subcommand(1);

  CreateOptions create;
  CLI::App* createCommand = app.add_subcommand("create", "Create a new player in a folder");
  createCommand->add_option("--player", create.player, "player folder")->required();
  createCommand->add_flag("--force", create.force, "replace a player already there");
  createCommand->add_option("--flash-type", create.flashType, "flash type 0..35 (default 7)");
  createCommand->add_option("--maker", create.maker, "maker code answered to read-ID");
  createCommand->add_option("--device", create.device, "device code answered to read-ID");
  createCommand->add_option("--bad-blocks", create.badBlocks, "factory bad blocks, e.g. 5,900");
  createCommand->add_option("--bad-block-count", create.badBlockCount,
                            "number of factory bad blocks chosen from the seed");
  createCommand->add_option("--seed", create.seed, "seed of every random choice (default 1)");
  createCommand->add_option("--dcc-version", create.dccVersion, "DCC version (default 0x101)");
  createCommand->add_option("--info-tag0", create.infoTag0, "device information tag 0");
  createCommand->add_option("--info-tag2", create.infoTag2, "device information tag 2");
  createCommand->add_option("--instance", create.instance, "instance number of the object");
  createCommand->add_flag("--recovery", create.recovery, "serve the recovery device object");
  auto* mib = createCommand->add_option("--card-mib", create.cardMiB, "card size in MiB");
  auto* blocks =
      createCommand->add_option("--card-blocks", create.cardBlocks, "card size in 512-byte blocks");
  auto* none = createCommand->add_flag("--no-card", create.noCard, "an empty card slot");
  mib->excludes(blocks)->excludes(none);
  blocks->excludes(none);
  AddFaultOptions(createCommand, &create.faults);

  std::string infoPlayer;
  bool infoJson = false;
  CLI::App* infoCommand = app.add_subcommand("info", "Describe a player");
  infoCommand->add_option("--player", infoPlayer, "player folder")->required();
  infoCommand->add_flag("--json", infoJson, "machine-readable output");

  ServeOptions serve;
  bool noSave = false;
  CLI::App* serveCommand = app.add_subcommand("serve", "Serve a player on a Unix socket");
  serveCommand->add_option("--player", serve.player, "player folder")->required();
  serveCommand->add_option("--device-dir", serve.deviceDir,
                           "socket folder (default $ORVIK_DEVICE_DIR)");
  serveCommand->add_flag("-v,--verbose", serve.verbose, "show every transfer");
  serveCommand->add_flag("--no-save", noSave, "leave the folder as it was");

  std::string faultsPlayer;
  bool clearFaults = false;
  FaultOptions faults;
  CLI::App* faultsCommand = app.add_subcommand("faults", "Change the fault settings of a player");
  faultsCommand->add_option("--player", faultsPlayer, "player folder")->required();
  faultsCommand->add_flag("--clear", clearFaults, "remove every fault setting first");
  AddFaultOptions(faultsCommand, &faults);

  CLI11_PARSE(app, argc, argv);
  try {
    if (createCommand->parsed()) return RunCreate(create);
    if (infoCommand->parsed()) return RunInfo(infoPlayer, infoJson);
    if (serveCommand->parsed()) {
      serve.save = !noSave;
      return RunServe(serve);
    }
    return RunFaults(faultsPlayer, clearFaults, faults);
  } catch (const std::exception& failure) {
    std::cerr << "orvik-sim: " << failure.what() << "\n";
    return 1;
  }
}
