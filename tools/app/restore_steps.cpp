#include "app/restore_steps.h"

#include <fmt/format.h>

#include <fstream>

#include "base/tool_error.h"
#include "player/device_queries.h"
#include "player/volume_image.h"
#include "sim/inspect/volume_export.h"

namespace orvik::tool {
namespace {

using sim::inspect::kSectorBytes;

const char* const kNothingWritten = kPlayerUntouched;

[[noreturn]] void NotReady(const std::string& code, const std::string& message,
                           const std::string& cause) {
  Problem problem;
  problem.code = code;
  problem.message = message;
  problem.cause = cause;
  problem.playerState = kNothingWritten;
  problem.action =
      "Run `orvik fix --manifest SET/manifest.json` with the player's firmware set: it lays the "
      "player out and writes an empty file system; then restore the image.";
  throw ToolError(std::move(problem));
}

}  // namespace

InputFile CheckImageFile(const std::string& path) {
  const InputFile image = ExamineInput(path);
  if (!image.regular)
    Fail("not-a-file",
         path + " is " + image.kind +
             ": a volume image is read from a regular file, whose size is checked first.",
         {}, "Give an image file, such as one `orvik backup` wrote.");
  uint8_t boot[kSectorBytes];
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(boot), kSectorBytes);
  if (in.gcount() != kSectorBytes || !sim::inspect::ReadBootSectorFields(boot).LooksLikeFat()) {
    Problem problem;
    problem.code = "not-fat";
    problem.message = path +
                      " is no FAT volume image: its first sector is no FAT12/FAT16 boot "
                      "sector.";
    problem.cause =
        "The file is something else, or an image of a whole disk (with a partition "
        "table) rather than of the volume alone.";
    problem.action = "Give an image of the player's volume, such as one `orvik backup` wrote.";
    problem.details = {{"file", path}};
    throw ToolError(std::move(problem));
  }
  return image;
}

RestoreTarget ReadPlayerVolume(OperationContext& context, MediaRunner& media, HostFileSet& files) {
  RestoreTarget target;
  target.survey = SurveyFlash(media, files, context.events);
  if (target.survey.scan.systemBlockCount == 0)
    NotReady("no-firmware", "The player holds no firmware: its flash was never laid out.",
             "A restore writes the files only; the firmware and the layout come first.");
  sim::inspect::LogicalVolume volume(*target.survey.copy);
  std::string missing;
  const std::optional<sim::inspect::VolumeGeometry> geometry =
      sim::inspect::ReadVolumeGeometry(volume, &missing);
  if (!geometry)
    NotReady("no-volume", "The player has no volume to restore onto: " + missing + ".",
             "The player was never formatted, or its file system was erased.");
  target.geometry = *geometry;
  const host::FlashType& type = *target.survey.type;
  target.volume = CheckFatVolume(
      [&](uint64_t sector, uint8_t* out) {
        return sector <= UINT32_MAX && volume.ReadSector(static_cast<uint32_t>(sector), out);
      },
      uint64_t{type.logicalBlockCount} * type.pagesPerBlock);
  return target;
}

RestoreTarget ReadRestoreTarget(OperationContext& context, MediaRunner& media, HostFileSet& files,
                                const InputFile& image) {
  RestoreTarget target = ReadPlayerVolume(context, media, files);
  try {
    CheckImageFits(image, target.geometry);
  } catch (ToolError& failure) {
    failure.problem().playerState = kNothingWritten;
    failure.problem().action +=
        " `orvik backup` saves the player's volume as it is now, in exactly its geometry.";
    throw;
  }
  return target;
}

VolumeRestore WriteImage(OperationContext& context, const RestoreTarget& target,
                         const InputFile& image, const std::string& againCommand) {
  std::ifstream in(image.path, std::ios::binary);
  const std::string state = "The restore was cut off while " + image.path + " was read.";
  return WriteRestore(target.survey, target.geometry, ImageFileReader(in, image.path, state),
                      context.events, againCommand);
}

nlohmann::json RestoreJson(const InputFile& image, const sim::inspect::VolumeGeometry& geometry,
                           const VolumeRestore& counts) {
  return {{"image", image.path},
          {"partitionStart", geometry.partitionStart},
          {"partitionSectors", geometry.partitionSectors},
          {"blocksWritten", counts.blocksWritten},
          {"blocksCleared", counts.blocksCleared},
          {"blocksUnchanged", counts.blocksUnchanged},
          {"blocksRetired", counts.blocksRetired}};
}

std::string VolumeContents(const FatVolumeHealth& volume) {
  if (volume.kind != FatVolumeHealth::Kind::kConsistent)
    return "whatever the player's " + std::string(FatVolumeKindName(volume.kind)) +
           " volume still holds";
  if (volume.files == 0 && volume.folders == 0) return "nothing (the player's volume is empty)";
  auto count = [](uint32_t n, const char* one, const char* many) {
    return fmt::format("{} {}", n, n == 1 ? one : many);
  };
  return fmt::format("the {} and {} ({}) on the player's volume",
                     count(volume.files, "file", "files"),
                     count(volume.folders, "folder", "folders"), MegaBytes(volume.fileBytes));
}

}  // namespace orvik::tool
