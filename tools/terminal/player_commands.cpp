// How info, blocks, backup, restore and verify join the command line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "app/operations.h"
#include "terminal/commands.h"

namespace orvik::tool {

void RegisterInfoCommand(CommandTable& table, CLI::App& app) {
  auto cardDrive = table.Hold<uint32_t>(0);
  CLI::App* info = table.Add(app, "info", "Device, flash, card and reservation of the player",
                             [cardDrive](OperationContext& context) {
                               return RunInfo(context, static_cast<uint8_t>(*cardDrive));
                             });
  info->add_option("--card-drive", *cardDrive, "device-side drive number of the card (default 0)");
}

void RegisterBlocksCommand(CommandTable& table, CLI::App& app) {
  auto options = table.Hold<BlocksOptions>();
  CLI::App* blocks =
      table.Add(app, "blocks", "Block map of the flash: good, bad, CIS and system blocks",
                [options](OperationContext& context) { return RunBlocks(context, *options); });
  blocks->add_option("--manifest", options->manifest, "also find each file's blocks by its tag");
  blocks->add_option("--width", options->perRow, "blocks per row (default 64)")
      ->check(CLI::Range(8, 256));
  blocks->add_flag("--no-grid", options->noGrid, "only the counts");
}

void RegisterBackupCommand(CommandTable& table, CLI::App& app) {
  auto output = table.Hold<OutputFile>();
  CLI::App* backup = table.Add(
      app, "backup", "Save the player's FAT volume as an image file (read by mtools, fsck.fat)",
      [output](OperationContext& context) { return RunBackup(context, *output); });
  backup->add_option("--output", output->path, "image file to write (not one already there)")
      ->required();
  backup->add_flag("--force", output->force, "replace the file if it exists");
}

void RegisterRestoreCommand(CommandTable& table, CLI::App& app) {
  auto options = table.Hold<RestoreOptions>();
  CLI::App* restore = table.Add(
      app, "restore",
      "Write a volume image (from backup, or a FAT image of the player's volume) back onto it",
      [options](OperationContext& context) { return RunRestore(context, *options); });
  restore->add_option("--input", options->input, "the volume image to write")->required();
}

void RegisterVerifyCommand(CommandTable& table, CLI::App& app) {
  auto manifest = table.Hold<std::string>();
  CLI::App* verify =
      table.Add(app, "verify", "Compare the whole system area byte for byte with a firmware set",
                [manifest](OperationContext& context) { return RunVerify(context, *manifest); });
  verify->add_option("--manifest", *manifest, "the firmware set's manifest.json")->required();
}

void RegisterCheckCommands(CommandTable& table, CLI::App& app) {
  auto manifest = table.Hold<std::string>();
  CLI::App* check = table.Add(
      app, "check", "Is the player all right? One verdict in plain words and the next step",
      [manifest](OperationContext& context) { return RunCheck(context, *manifest); });
  check->add_option("--manifest", *manifest,
                    "the player's firmware set, to compare the firmware with it byte for byte");

  auto fix = table.Hold<FixOptions>();
  CLI::App* fixCommand =
      table.Add(app, "fix", "Repair what `orvik check` finds, asking once, then check again",
                [fix](OperationContext& context) { return RunFix(context, *fix); });
  fixCommand->add_option("--manifest", fix->manifest,
                         "the player's firmware set (needed when the firmware must be written)");
  fixCommand->add_flag("--no-backup", fix->noBackup,
                       "do not back the files up before a step that empties the volume");
}

}  // namespace orvik::tool
