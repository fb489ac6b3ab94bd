// What writing a volume image onto a flash takes, one logical block at a
// time: for every logical block the image's partition touches, what the
// block must read as afterwards, which of its pages carry data (the others
// stay erased, image_convention.h), where the flash holds it now and
// whether that changes.  The sectors of a block outside the partition (the
// master boot record and the hidden sectors) keep what the flash holds.
//
// The plan writes nothing: `orvik restore` writes the blocks through the
// library (tools/player/volume_restore.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/inspect/volume_export.h"
#include "sim/inspect/volume_geometry.h"

namespace orvik::sim::inspect {

struct PlannedBlock {
  uint32_t logicalBlock = 0;         // of the volume (zone x 1000 + number in the zone)
  std::optional<uint32_t> physical;  // the block that holds it now, if any
  std::vector<uint8_t> data;         // pagesPerBlock x 512 bytes: what it must read as
  std::vector<bool> pageWritten;     // per page: holds data (not all 0xFF)
  bool changes = false;              // the flash reads otherwise now

  // No page holds data: the block is left unmapped (its old block erased).
  bool Empty() const;
};

// Reads count sectors of the image from partition-relative sector first
// into out (count x 512 bytes).  May throw to stop.
using ImageSectorReader = std::function<void(uint32_t first, uint32_t count, uint8_t* out)>;

// Calls each for every logical block the partition touches, in increasing
// order, with what the image asks of it; `current` reads what the flash
// holds now (its map must stay valid for the blocks not yet visited).
void PlanVolumeImage(LogicalVolume& current, const VolumeGeometry& geometry,
                     const ImageSectorReader& image,
                     const std::function<void(const PlannedBlock&)>& each);

}  // namespace orvik::sim::inspect
