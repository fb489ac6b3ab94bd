// A volume image stored straight into a simulated flash, as the player's
// own firmware stores the sectors a computer writes: every logical block
// whose contents change is written anew into a free block of its zone
// (erased first), each page that holds data (not all 0xFF) with its ECC and
// the block-address field, page 0 always so that a reader finds the block;
// then the block that held it before is erased.  A logical block the image
// leaves without data is unmapped (its block erased); one that reads the
// same already is left alone.  For tests and demos: the owner's way onto a
// real player goes through the library.
#pragma once

#include <cstdint>
#include <string>

#include "sim/inspect/volume_plan.h"
#include "sim/player.h"

namespace orvik::sim::inspect {

struct VolumeImport {
  bool ok = false;
  std::string error;  // when !ok: what stopped it (the flash is then half written)
  uint32_t blocksWritten = 0;
  uint32_t blocksCleared = 0;
  uint32_t blocksUnchanged = 0;
  uint64_t pagesWritten = 0;
};

// Writes the image (geometry: the player's volume, from ReadVolumeGeometry)
// onto the player's flash; with apply false only counts what it would do.
// Exceptions of the reader pass through.
VolumeImport ImportVolume(Player& player, const VolumeGeometry& geometry,
                          const ImageSectorReader& image, bool apply);

}  // namespace orvik::sim::inspect
