// orvik sim export-fat|import-fat: a simulated player's FAT volume as a
// plain image file, out and back in, straight from and into its flash as
// the player's firmware keeps it (the image convention:
// sim/inspect/image_convention.h).
#include <fmt/format.h>

#include <filesystem>
#include <fstream>

#include "app/operations.h"
#include "base/host_file.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "player/device_queries.h"
#include "player/volume_image.h"
#include "sim/inspect/volume_import.h"
#include "target/sim_folder.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;
using sim::inspect::VolumeGeometry;

VolumeGeometry GeometryOrFail(sim::inspect::LogicalVolume& volume, const std::string& why,
                              const std::string& dir) {
  std::string missing;
  std::optional<VolumeGeometry> geometry = sim::inspect::ReadVolumeGeometry(volume, &missing);
  if (!geometry)
    Fail("no-volume", why + missing + ".",
         "The flash has no file system (never formatted, or the format did not finish).",
         fmt::format("Write a file system with `orvik quick-format --player {}` (or the full "
                     "reflash), then run the command again.",
                     ShellQuote(dir)));
  return *geometry;
}

void ReportImport(OperationContext& context, const std::string& image,
                  const VolumeGeometry& geometry, const sim::inspect::VolumeImport& done) {
  context.result = {{"image", image},
                    {"partitionStart", geometry.partitionStart},
                    {"partitionSectors", geometry.partitionSectors},
                    {"blocksWritten", done.blocksWritten},
                    {"blocksCleared", done.blocksCleared},
                    {"blocksUnchanged", done.blocksUnchanged},
                    {"pagesWritten", done.pagesWritten},
                    {"dryRun", context.settings.dryRun}};
  const std::string counts =
      fmt::format("{} logical blocks written ({} pages), {} left erased, {} unchanged",
                  done.blocksWritten, done.pagesWritten, done.blocksCleared, done.blocksUnchanged);
  if (context.settings.dryRun)
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") + " importing " + image +
                        " would leave " + counts + ". Nothing was written.");
  else
    context.events.Line(context.events.Paint(Style::kGood, "Imported") + " " + image +
                        " onto the player's volume: " + counts + ".");
}

}  // namespace

int RunSimExportFat(OperationContext& context, const OutputFile& image) {
  CheckOutputFile(image.path, image.force);
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  sim::inspect::LogicalVolume volume(*player);
  const VolumeGeometry geometry = GeometryOrFail(
      volume, "The player's FAT volume cannot be exported: ", context.settings.Target().playerDir);
  context.result = {{"image", image.path},
                    {"partitionStart", geometry.partitionStart},
                    {"partitionSectors", geometry.partitionSectors},
                    {"dryRun", context.settings.dryRun}};
  const std::string sectors =
      fmt::format("{} sectors ({}) from sector {}", geometry.partitionSectors,
                  MegaBytes(geometry.ImageBytes()), geometry.partitionStart);
  if (context.settings.dryRun) {
    context.events.Line(context.events.Paint(Style::kBold, "Dry run:") + " would export " +
                        sectors + " to " + image.path + ". Nothing was written.");
    return kExitDone;
  }
  InterruptGuard guard;
  const VolumeImage saved = SaveVolumeImage(volume, geometry, image.path, image.force,
                                            context.events, "Exporting changes nothing.");
  context.result["sectorsFromFlash"] = saved.sectorsFromFlash;
  context.result["sectorsFilled"] = saved.sectorsFilled;
  context.result["eccFindings"] = saved.eccFindings.size();
  context.events.Line(
      fmt::format("Exported the FAT volume to {}: {}; {} sectors came from "
                  "written pages.",
                  image.path, sectors, saved.sectorsFromFlash));
  if (!saved.eccFindings.empty())
    context.events.Warn(fmt::format("{} page halves needed ECC correction or were beyond it",
                                    saved.eccFindings.size()));
  context.events.Line(
      fmt::format("Read it with standard tools, e.g. `mdir -i {0} ::` or `fsck.fat -n {0}`.",
                  ShellQuote(image.path)));
  return kExitDone;
}

int RunSimImportFat(OperationContext& context, const std::string& imagePath) {
  const InputFile image = ExamineInput(imagePath);
  if (!image.regular)
    Fail("not-a-file",
         imagePath + " is " + image.kind +
             ": an image is read from a regular file, whose size is "
             "checked first.",
         {}, "Give an image file (as `orvik sim export-fat` writes it).");
  const std::string dir = context.settings.Target().playerDir;
  std::shared_ptr<sim::Player> player = context.OpenPlayerFolder();
  sim::inspect::LogicalVolume volume(*player);
  const VolumeGeometry geometry =
      GeometryOrFail(volume, "The player has no FAT volume to write the image onto: ", dir);
  CheckImageFits(image, geometry);
  if (!context.settings.dryRun)
    Confirm(context, TargetText(context.settings.Target()),
            {"orvik sim import-fat", "write the image " + imagePath + " onto the player's volume",
             "every file on the player's volume now", ""});
  std::ifstream in(imagePath, std::ios::binary);
  InterruptGuard guard;
  const sim::inspect::VolumeImport done = sim::inspect::ImportVolume(
      *player, geometry,
      ImageFileReader(in, imagePath, "Nothing was saved: the player's folder is as it was."),
      !context.settings.dryRun);
  if (!done.ok)
    Fail("volume-full", "The image cannot be stored: " + done.error + ".",
         "The zone's good blocks are all taken (bad blocks and the system area leave too few).",
         "Nothing was saved: the player's folder is as it was.");
  if (!context.settings.dryRun) SavePlayer(*player, dir);
  ReportImport(context, imagePath, geometry, done);
  return kExitDone;
}

}  // namespace orvik::tool
