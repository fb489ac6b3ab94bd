// How versions, update, reflash, the formats and reserve join the command
// line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "app/operations.h"
#include "terminal/commands.h"

namespace orvik::tool {

void AddReserveOption(CLI::App& command, std::optional<uint32_t>& kiloBytes) {
  command
      .add_option("--reserve", kiloBytes,
                  fmt::format("kilobytes to reserve for the firmware (instead of the manifest's), "
                              "1 to {}",
                              kLargestKiloBytes))
      ->check(CLI::Range(1u, kLargestKiloBytes));
}

void RegisterReserveCommand(CommandTable& table, CLI::App& app) {
  auto options = table.Hold<ReserveOptions>();
  CLI::App* reserve =
      table.Add(app, "reserve",
                "Show or set the flash space reserved for the firmware (TotalKiloBytesReserved)",
                [options](OperationContext& context) { return RunReserve(context, *options); });
  reserve->add_option("kilobytes", options->kiloBytes, "kilobytes to reserve");
  CLI::Option* fromManifest =
      reserve->add_option("--manifest", options->manifest, "take the manifest's value");
  reserve->add_flag("--clear", options->clear, "remove the setting")->excludes(fromManifest);
}

void RegisterVersionsCommand(CommandTable& table, CLI::App& app) {
  auto manifest = table.Hold<std::string>();
  CLI::App* versions =
      table.Add(app, "versions", "Versions of a firmware set against those stored on the player",
                [manifest](OperationContext& context) { return RunVersions(context, *manifest); });
  versions->add_option("--manifest", *manifest, "the firmware set's manifest.json")->required();
}

void RegisterUpdateCommands(CommandTable& table, CLI::App& app) {
  auto update = table.Hold<UpdateOptions>();
  CLI::App* updateCommand =
      table.Add(app, "update", "Update the firmware without formatting (keeps the files)",
                [update](OperationContext& context) { return RunUpdate(context, *update); });
  updateCommand->add_option("--manifest", update->manifest, "the firmware set's manifest.json")
      ->required();
  updateCommand->add_flag("--force", update->force, "write even when every version is up to date");
  updateCommand->add_option("--allow-removing", update->allowRemoving,
                            "let the update drop the player's file with this tag (repeatable)");
  updateCommand->add_flag("--allow-downgrade", update->allowDowngrade,
                          "install the set even where it is older than the player's firmware");
  updateCommand->add_flag("--repair", update->repair,
                          "repair an update that was cut off, taking the configured reservation "
                          "as the one the player was laid out with (asks first)");

  auto reflash = table.Hold<ReflashOptions>();
  CLI::App* reflashCommand =
      table.Add(app, "reflash",
                "Full reflash: lay out the flash anew, write the firmware and an empty volume",
                [reflash](OperationContext& context) { return RunReflash(context, *reflash); });
  reflashCommand->add_option("--manifest", reflash->manifest, "the firmware set's manifest.json")
      ->required();
  reflashCommand->add_flag("--erase-data", reflash->eraseData, "also erase the data area");
  reflashCommand->add_flag("--size-from-registry", reflash->sizeFromRegistry,
                           "size the volume from the reservation, not the system blocks found");
  AddReserveOption(*reflashCommand, reflash->reserveKiloBytes);
  reflashCommand->add_flag("--keep-files", reflash->keepFiles,
                           "back the files up first and write them back afterwards");
}

void RegisterFormatCommands(CommandTable& table, CLI::App& app) {
  auto quickSizeFromRegistry = table.Hold<bool>(false);
  CLI::App* quick =
      table.Add(app, "quick-format", "Write an empty file system (the firmware stays)",
                [quickSizeFromRegistry](OperationContext& context) {
                  return RunQuickFormat(context, *quickSizeFromRegistry);
                });
  quick->add_flag("--size-from-registry", *quickSizeFromRegistry,
                  "size the volume from the reservation, not the system blocks found");

  auto full = table.Hold<FullFormatOptions>();
  CLI::App* fullCommand =
      table.Add(app, "full-format",
                "Erase the flash and lay the system area out anew (with "
                "--manifest: and write the firmware)",
                [full](OperationContext& context) { return RunFullFormat(context, *full); });
  fullCommand->add_option("--manifest", full->manifest, "also write this firmware set");
  AddReserveOption(*fullCommand, full->reserveKiloBytes);

  table.Add(app, "erase-data", "Erase every good block after the first zone", RunEraseData);
}

}  // namespace orvik::tool
