// How the card commands join the command line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>

#include "app/operations.h"
#include "terminal/commands.h"

namespace orvik::tool {

void RegisterCardCommands(CommandTable& table, CLI::App& app) {
  CLI::App* card = app.add_subcommand("card", "The MMC card in the player's slot");
  card->require_subcommand(1);
  auto options = table.Hold<CardOptions>();
  auto add = [&](const char* name, const char* description,
                 int (*run)(OperationContext&, const CardOptions&)) {
    CLI::App* command =
        table.Add(*card, name, description,
                  [options, run](OperationContext& context) { return run(context, *options); });
    command->add_option("--drive", options->drive, "device-side drive number (default 0)");
    return command;
  };
  add("info", "Capacity and registers (CID, CSD, OCR)", RunCardInfo);
  CLI::App* read = add("read", "Read blocks into a file", RunCardRead);
  read->add_option("--block", options->block, "first block (default 0)");
  read->add_option("--count", options->count, "blocks (default: to the end of the card)");
  read->add_option("--out", options->file, "file to write (not one already there)")->required();
  read->add_flag("--force", options->force, "replace the file if it exists");
  CLI::App* write = add("write", "Write a file to blocks", RunCardWrite);
  write->add_option("--block", options->block, "first block (default 0)");
  write
      ->add_option("--in", options->file,
                   "file to write to the card (a pipe or device is read up to the card's end)")
      ->required();
  write->add_flag("--pad", options->pad, "fill a short last block with zeros");
  CLI::App* erase = add("erase", "Erase blocks, the file-system area or all", RunCardErase);
  CLI::Option* block = erase->add_option("--block", options->block, "first block");
  erase->add_option("--count", options->count, "blocks (default 1)")->needs(block);
  CLI::Option* all = erase->add_flag("--all", options->all, "the whole card");
  CLI::Option* fileSystem =
      erase->add_flag("--file-system", options->fileSystem, "the file-system area only");
  all->excludes(fileSystem)->excludes(block);
  fileSystem->excludes(block);
  erase->parse_complete_callback([options, block] { options->blockGiven = block->count() > 0; });
  add("format", "Write an empty FAT volume on the card", RunCardFormat);
}

}  // namespace orvik::tool
