// orvik sim export-fat: a simulated player's FAT volume as a plain image
// file, straight from its flash as the player's firmware keeps it (the
// image convention: sim/inspect/image_convention.h).  The way back onto a
// player, simulated or not, is `orvik restore`.
#include <fmt/format.h>

#include <filesystem>

#include "app/operations.h"
#include "base/host_file.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "player/device_queries.h"
#include "player/volume_image.h"
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

}  // namespace orvik::tool
