// orvik backup: the player's FAT volume saved as a plain image file that
// mtools and fsck.fat read, before a command that empties it.
//
// The flash is read raw through the library's page reads, on a simulated
// player and a real one alike, into a scratch copy of the flash
// (flash_copy.h): pages 0 and 1 of every block and every page of the blocks
// that carry the volume, in every zone.  The volume is then rebuilt from the
// logical block numbers of the pages' block-address fields, as a reader
// maps them, and written by the same code that `orvik sim export-fat` uses
// (player/volume_image.h), so both give the same image of a volume.
#include <fmt/format.h>

#include "app/operations.h"
#include "base/host_file.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "player/device_queries.h"
#include "player/flash_copy.h"
#include "player/media_runner.h"
#include "player/progress_watch.h"
#include "player/volume_image.h"

namespace orvik::tool {
namespace {

constexpr const char* kReadsOnly = "A backup reads only; the player is as it was.";

std::shared_ptr<sim::Player> ReadVolumeBlocks(OperationContext& context, Session& session) {
  MediaRunner media(context.events, session, context.settings.commandLine);
  media.Scan();  // leaves the page buffer the reads go through
  FlashPages pages(media.FlashType());
  WorkBar bar(context.events, "Reading the volume");
  std::shared_ptr<sim::Player> copy = CopyVolumeBlocks(pages, [&](uint32_t block, uint32_t all) {
    bar.Update(100.0 * (block + 1) / all);
    ThrowIfInterrupted(kReadsOnly, "Run the backup again to save the whole volume.");
  });
  bar.Finish();
  return copy;
}

void ReportBackup(OperationContext& context, const std::string& output, const VolumeImage& saved) {
  context.result = {{"file", output},
                    {"partitionStart", saved.geometry.partitionStart},
                    {"partitionSectors", saved.geometry.partitionSectors},
                    {"sectorsFromFlash", saved.sectorsFromFlash},
                    {"eccCorrections", saved.eccFindings.size()},
                    {"dryRun", false}};
  context.events.Line(context.events.Paint(Style::kGood, "Backed up") +
                      fmt::format(" the FAT volume to {}: {} sectors ({}) from sector {}.", output,
                                  saved.geometry.partitionSectors,
                                  MegaBytes(saved.geometry.ImageBytes()),
                                  saved.geometry.partitionStart));
  context.events.Line(
      fmt::format("Read it with standard tools, e.g. `mdir -i {} ::`.", ShellQuote(output)));
}

}  // namespace

int RunBackup(OperationContext& context, const OutputFile& output) {
  // Refused before anything is read, so that a refusal costs nothing.
  CheckOutputFile(output.path, output.force);
  std::unique_ptr<Session> session = context.OpenTarget();
  if (context.settings.dryRun) {
    session->Close();
    context.result = {{"file", output.path}, {"dryRun", true}};
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") +
                        " would read the player's FAT volume and save it to " + output.path +
                        ". Nothing was read or written.");
    return kExitDone;
  }
  InterruptGuard guard;
  std::shared_ptr<sim::Player> copy = ReadVolumeBlocks(context, *session);
  session->Close();

  sim::inspect::LogicalVolume volume(*copy);
  std::string why;
  const std::optional<sim::inspect::VolumeGeometry> geometry =
      sim::inspect::ReadVolumeGeometry(volume, &why);
  if (!geometry)
    Fail("no-volume", "The player's flash holds no FAT volume to back up: " + why + ".",
         "The player was never formatted, or its file system was erased.",
         "There is nothing to save; the player is as it was.");
  const VolumeImage saved =
      SaveVolumeImage(volume, *geometry, output.path, output.force, context.events, kReadsOnly);
  ReportBackup(context, output.path, saved);
  return kExitDone;
}

}  // namespace orvik::tool
