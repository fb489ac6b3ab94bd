// The steps of writing a volume image back onto a player, shared by
// `orvik restore` and `orvik reflash --keep-files`: the image file checked
// before the player is opened, the player's flash read and the image
// checked against its volume (every refusal before anything is written),
// then the write (player/volume_restore.h).
#pragma once

#include <string>

#include "app/operation.h"
#include "base/host_file.h"
#include "player/fat_check.h"
#include "player/flash_survey.h"
#include "player/media_runner.h"
#include "player/volume_restore.h"
#include "sim/inspect/volume_geometry.h"

namespace orvik::tool {

// A regular file whose first sector is a FAT boot sector; refused
// ("not-a-file", "not-fat") otherwise.  Reads only that sector.
InputFile CheckImageFile(const std::string& path);

// The player's volume as the restore finds it.
struct RestoreTarget {
  FlashSurvey survey;
  sim::inspect::VolumeGeometry geometry;  // the player's volume
  FatVolumeHealth volume;                 // what it holds now
};

// Scans and reads the player's flash, and refuses a player without
// firmware ("no-firmware") or without a volume ("no-volume"), naming `orvik
// fix`.  Writes nothing.
RestoreTarget ReadPlayerVolume(OperationContext& context, MediaRunner& media, HostFileSet& files);

// The same, and refuses an image that does not fit the volume
// ("image-mismatch").
RestoreTarget ReadRestoreTarget(OperationContext& context, MediaRunner& media, HostFileSet& files,
                                const InputFile& image);

// Writes the image (InterruptGuard by the caller); againCommand finishes a
// restore that was cut off.
VolumeRestore WriteImage(OperationContext& context, const RestoreTarget& target,
                         const InputFile& image, const std::string& againCommand);

// The result fields of a restore.
nlohmann::json RestoreJson(const InputFile& image, const sim::inspect::VolumeGeometry& geometry,
                           const VolumeRestore& counts);

// "the 12 files and 1 folder (4.1 MiB) on the player's volume".
std::string VolumeContents(const FatVolumeHealth& volume);

}  // namespace orvik::tool
