// orvik backup: the player's FAT volume saved as a plain image file that
// mtools and fsck.fat read, before a command that empties it.
//
// The flash's first zone (where the volume lives) is read raw through the
// library's page reads, on a simulated player and a real one alike, into a
// scratch copy of the flash (flash_copy.h); the volume is then rebuilt from
// the logical block numbers of the pages' block-address fields, as a reader
// maps them (the same code that `orvik sim export-fat` uses).
#include <fmt/format.h>

#include <filesystem>

#include "cli/interruption.h"
#include "cli/shell_quote.h"
#include "commands/commands.h"
#include "device/flash_copy.h"
#include "host/host_internals.h"
#include "media/media_runner.h"
#include "output/progress_monitor.h"
#include "output/tool_error.h"
#include "sim/inspect/volume_export.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

int RunBackup(CommandContext& context, const std::string& output) {
  std::error_code error;
  if (fs::exists(output, error))
    Fail("backup-exists", output + " already exists: a backup does not overwrite a file.", {},
         "Give another file name with --output, or remove the old one first.");
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context, *session);
  const host::FlashTypeDescriptor& type = media.FlashType();
  InterruptGuard guard;
  media.Scan();  // leaves the page buffer the reads go through
  FlashPages pages(type);
  WorkBar bar(context.console, "Reading the volume");
  std::shared_ptr<sim::Player> copy =
      CopyBlocks(pages, host::FirstZoneBlocks(type.typeIndex), [&](uint32_t block, uint32_t all) {
        bar.Update(100.0 * (block + 1) / all);
        ThrowIfInterrupted("A backup reads only; the player is as it was.",
                           "Run the backup again to save the whole volume.");
      });
  bar.Finish();
  session->Close();

  const sim::inspect::VolumeExport saved = sim::inspect::ExportVolume(*copy, output);
  if (!saved.ok) {
    fs::remove(output, error);
    Fail("no-volume", "The player's flash holds no FAT volume to back up: " + saved.error + ".",
         "The player was never formatted, or its file system was erased.",
         "There is nothing to save; the player is as it was.");
  }
  context.result = {{"file", output},
                    {"partitionStart", saved.partitionStart},
                    {"partitionSectors", saved.partitionSectors},
                    {"sectorsFromFlash", saved.sectorsFromFlash},
                    {"eccCorrections", saved.eccFindings.size()}};
  context.console.Line(context.console.Paint(Style::kGood, "Backed up") +
                       fmt::format(" the FAT volume to {}: {} sectors ({}) from sector {}.", output,
                                   saved.partitionSectors,
                                   MegaBytes(uint64_t{saved.partitionSectors} * 512),
                                   saved.partitionStart));
  context.console.Line(
      fmt::format("Read it with standard tools, e.g. `mdir -i {} ::`.", ShellQuote(output)));
  return kExitDone;
}

}  // namespace

void RegisterBackupCommand(CommandTable& table, CLI::App& app) {
  auto output = table.Hold<std::string>();
  CLI::App* backup = table.Add(
      app, "backup", "Save the player's FAT volume as an image file (read by mtools, fsck.fat)",
      [output](CommandContext& context) { return RunBackup(context, *output); });
  backup->add_option("--output", *output, "image file to write (must not exist)")->required();
}

}  // namespace orvik::tool
