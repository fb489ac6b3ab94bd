#include "app/keep_files.h"

#include <fmt/format.h>

#include <filesystem>

#include "app/backup_name.h"
#include "base/interruption.h"
#include "base/shell_quote.h"
#include "base/tool_error.h"
#include "host/host_internals.h"
#include "player/device_queries.h"
#include "player/volume_image.h"
#include "sim/byte_order.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;
using sim::inspect::VolumeGeometry;

constexpr uint32_t kPartitionEntry = 446;

// The volume the reflash's quick format will write, by the library's rules:
// the reflash lays out plan.blocks system blocks and sets the reservation
// to them.
std::optional<VolumeGeometry> VolumeAfterReflash(const host::FlashType& type,
                                                 const ReservationPlan& plan,
                                                 bool sizeFromRegistry) {
  const std::optional<host::FormattedVolume> formatted =
      host::QuickFormatVolume(type, sizeFromRegistry, plan.blocks, plan.blocks);
  if (!formatted) return std::nullopt;
  const uint8_t* entry = formatted->masterBootRecord.data() + kPartitionEntry;
  VolumeGeometry geometry;
  geometry.partitionType = entry[4];
  geometry.partitionStart = sim::GetLittleEndian32(entry + 8);
  geometry.partitionSectors = sim::GetLittleEndian32(entry + 12);
  geometry.boot = sim::inspect::ReadBootSectorFields(formatted->bootSector.data());
  return geometry;
}

// The bytes the volume's data area holds.
uint64_t DataBytes(const VolumeGeometry& volume) {
  const sim::inspect::BootSectorFields& boot = volume.boot;
  const uint64_t fixed = uint64_t{boot.reservedSectors} +
                         uint64_t{boot.fatCount} * boot.sectorsPerFat +
                         (uint64_t{boot.rootEntries} * 32 + 511) / 512;
  if (boot.sectorsPerCluster == 0 || boot.totalSectors <= fixed) return 0;
  return (boot.totalSectors - fixed) / boot.sectorsPerCluster * boot.sectorsPerCluster * 512;
}

std::string Describe(const VolumeGeometry& volume) {
  return fmt::format("{} sectors ({}) from sector {}, {} sectors per cluster",
                     volume.partitionSectors, MegaBytes(volume.ImageBytes()), volume.partitionStart,
                     volume.boot.sectorsPerCluster);
}

[[noreturn]] void DoNotFit(const RestoreTarget& now, const VolumeGeometry& after,
                           const ReservationPlan& plan) {
  const uint32_t laidOut = now.survey.scan.systemBlockCount;
  const uint64_t room = DataBytes(after);
  const bool filesFit = now.volume.fileBytes <= room;
  Problem problem;
  problem.code = "files-do-not-fit";
  problem.message = "The files cannot be kept across this reflash: the volume it leaves (" +
                    Describe(after) + ") is laid out otherwise than the player's now (" +
                    Describe(now.geometry) +
                    "), and an image of a volume is written back only onto one of the same layout.";
  problem.cause =
      plan.blocks != laidOut
          ? fmt::format(
                "The reflash reserves {} blocks for the firmware, the player has {}: the "
                "volume {}.",
                plan.blocks, laidOut, plan.blocks > laidOut ? "shrinks" : "grows")
          : std::string(
                "The volume is sized otherwise (--size-from-registry, or a volume another "
                "program laid out).");
  problem.playerState = kPlayerUntouched;
  problem.action = fmt::format(
      "Reflash with the reservation the player has (--reserve {}), or back the files up with "
      "`orvik backup`, reflash, and copy them back with mtools: the files ({}) {} the new "
      "volume's {}.",
      uint64_t{laidOut} * now.survey.type->BlockBytes() / 1024, MegaBytes(now.volume.fileBytes),
      filesFit ? "fit" : "do not fit", MegaBytes(room));
  problem.details = {{"filesBytes", now.volume.fileBytes},
                     {"volumeBytesAfter", room},
                     {"filesFit", filesFit},
                     {"partitionSectorsNow", now.geometry.partitionSectors},
                     {"partitionSectorsAfter", after.partitionSectors}};
  throw ToolError(std::move(problem));
}

bool SameLayout(const VolumeGeometry& a, const VolumeGeometry& b) {
  return a.partitionStart == b.partitionStart && a.partitionSectors == b.partitionSectors &&
         sim::inspect::GeometryDifferences(a.boot, b.boot).empty();
}

}  // namespace

KeptFiles PlanKeptFiles(OperationContext& context, MediaRunner& media, HostFileSet& files,
                        const ReservationPlan& plan, bool sizeFromRegistry) {
  KeptFiles kept;
  try {
    kept.before = ReadPlayerVolume(context, media, files);
  } catch (ToolError& failure) {
    if (failure.problem().code != "no-volume" && failure.problem().code != "no-firmware") throw;
    failure.problem().message = "There are no files to keep: " + failure.problem().message;
    failure.problem().action = "Run the reflash without --keep-files.";
    throw;
  }
  const std::optional<VolumeGeometry> after =
      VolumeAfterReflash(*kept.before.survey.type, plan, sizeFromRegistry);
  if (!after || !SameLayout(kept.before.geometry, *after))
    DoNotFit(kept.before, after.value_or(VolumeGeometry{}), plan);
  kept.backupFile = fs::absolute(NewBackupName()).string();
  return kept;
}

void SaveKeptFiles(OperationContext& context, const KeptFiles& kept) {
  InterruptGuard guard;
  sim::inspect::LogicalVolume volume(*kept.before.survey.copy);
  SaveVolumeImage(volume, kept.before.geometry, kept.backupFile, false, context.events,
                  "Nothing was written to the player.");
  context.events.Line(context.events.Paint(Style::kGood, "Backed up") + " " +
                      VolumeContents(kept.before.volume) + " to " + kept.backupFile + ".");
}

void RestoreKeptFiles(OperationContext& context, MediaRunner& media, HostFileSet& files,
                      const KeptFiles& kept, const std::string& againCommand) {
  const InputFile image = ExamineInput(kept.backupFile);
  const RestoreTarget target = ReadRestoreTarget(context, media, files, image);
  const VolumeRestore counts = WriteImage(context, target, image, againCommand);
  context.result["restored"] = RestoreJson(image, target.geometry, counts);
  context.events.Line(context.events.Paint(Style::kGood, "Files written back") + " from " +
                      kept.backupFile +
                      fmt::format(": {} logical blocks written.", counts.blocksWritten));
}

}  // namespace orvik::tool
