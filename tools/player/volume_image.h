// The FAT volume of a flash saved as an image file: the first partition,
// sector by sector as a reader maps the logical blocks of every zone, with
// the sectors no written page holds as 0xFF (the image convention,
// sim/inspect/image_convention.h).  `orvik backup` (from the copy it read
// through the library) and `orvik sim export-fat` (from the simulated
// flash) both write their images here, so the two give the same bytes for
// the same volume.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "base/events.h"
#include "base/host_file.h"
#include "sim/inspect/volume_export.h"
#include "sim/inspect/volume_plan.h"

namespace orvik::tool {

struct VolumeImage {
  sim::inspect::VolumeGeometry geometry;
  uint64_t sectorsFromFlash = 0;  // partition sectors read from written pages
  uint64_t sectorsFilled = 0;     // partition sectors no written page holds
  std::vector<sim::inspect::EccFinding> eccFindings;
};

// Writes the partition to path through a temporary file (base/host_file.h;
// force: replace a file there), moving a bar; Ctrl-C under an
// InterruptGuard stops it with ToolError "interrupted" (what: the state to
// report), leaving nothing under path.
VolumeImage SaveVolumeImage(sim::inspect::LogicalVolume& volume,
                            const sim::inspect::VolumeGeometry& geometry, const std::string& path,
                            bool force, Events& events, const std::string& interruptedState);

// Refuses an image file that does not fit the volume, with ToolError
// "image-mismatch" saying what differs: first its size (the partition's),
// then the layout fields of its boot sector (GeometryDifferences).  The
// image is a regular file (ExamineInput), so nothing is read before its
// size is known.
void CheckImageFits(const InputFile& image, const sim::inspect::VolumeGeometry& volume);

// The sectors of an image file, for PlanVolumeImage.  A
// file that changed since it was checked, or Ctrl-C under an
// InterruptGuard, stops the reading with ToolError; state says what the
// target is left as then.
sim::inspect::ImageSectorReader ImageFileReader(std::ifstream& in, const std::string& path,
                                                const std::string& state);

}  // namespace orvik::tool
