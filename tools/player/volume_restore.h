// A volume image written back onto the player's flash through the library's
// block writes (host::WriteVolumeBlock, host::EraseVolumeBlock), as the
// player's own firmware keeps written sectors: every logical block whose
// contents change is written into a free block of the zone its number
// belongs to, each page with its ECC and block-address field and read
// back, and the block that held it before is erased; a logical block the
// image leaves without data is unmapped (its block erased); one that reads
// as the image has it already is left alone.
//
// The block holding the boot sector is written twice: first without the
// boot sector, before any other block, and whole at the very end.  A
// restore cut off anywhere in between therefore leaves a volume without a
// boot sector, which no reader mistakes for a sound one (`orvik check`
// calls it damaged, and the journal tells which image to write again).
// Writing the same image again finishes it: what already reads as the
// image has it is left alone.
#pragma once

#include <cstdint>
#include <string>

#include "base/events.h"
#include "player/flash_survey.h"
#include "sim/inspect/volume_plan.h"

namespace orvik::tool {

struct VolumeRestore {
  uint32_t blocksWritten = 0;    // logical blocks written anew
  uint32_t blocksCleared = 0;    // left without data (their block erased)
  uint32_t blocksUnchanged = 0;  // already read as the image has them
  uint32_t blocksRetired = 0;    // blocks that did not take the data (bad now)

  bool ChangesAnything() const { return blocksWritten + blocksCleared > 0; }
};

// What writing the image would do, from the survey's copy of the flash
// (reads only the image).
VolumeRestore PlanRestore(const FlashSurvey& survey, const sim::inspect::VolumeGeometry& geometry,
                          const sim::inspect::ImageSectorReader& image);

// Writes the image onto the flash the survey read (its scan must be the
// library's last one).  A transfer that fails or Ctrl-C under an
// InterruptGuard stops it with ToolError; againCommand is the command that
// finishes it (named in the failure's advice).
VolumeRestore WriteRestore(const FlashSurvey& survey, const sim::inspect::VolumeGeometry& geometry,
                           const sim::inspect::ImageSectorReader& image, Events& events,
                           const std::string& againCommand);

}  // namespace orvik::tool
