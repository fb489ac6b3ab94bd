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

#include "app/operations.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "player/flash_copy.h"
#include "player/media_runner.h"
#include "player/progress_watch.h"
#include "sim/inspect/volume_export.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;

}  // namespace

int RunBackup(OperationContext& context, const std::string& output) {
  std::error_code error;
  if (fs::exists(output, error))
    Fail("backup-exists", output + " already exists: a backup does not overwrite a file.", {},
         "Give another file name with --output, or remove the old one first.");
  std::unique_ptr<Session> session = context.OpenTarget();
  MediaRunner media(context.events, *session, context.settings.commandLine);
  const host::FlashType& type = media.FlashType();
  InterruptGuard guard;
  media.Scan();  // leaves the page buffer the reads go through
  FlashPages pages(type);
  WorkBar bar(context.events, "Reading the volume");
  std::shared_ptr<sim::Player> copy =
      CopyBlocks(pages, type.firstZoneBlocks, [&](uint32_t block, uint32_t all) {
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
  context.events.Line(context.events.Paint(Style::kGood, "Backed up") +
                      fmt::format(" the FAT volume to {}: {} sectors ({}) from sector {}.", output,
                                  saved.partitionSectors,
                                  MegaBytes(uint64_t{saved.partitionSectors} * 512),
                                  saved.partitionStart));
  context.events.Line(
      fmt::format("Read it with standard tools, e.g. `mdir -i {} ::`.", ShellQuote(output)));
  return kExitDone;
}

}  // namespace orvik::tool
