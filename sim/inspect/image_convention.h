// What a sector that no written page holds is in a volume image: the one
// convention of every image the tool writes (`orvik backup`, `orvik sim
// export-fat`) and takes (`orvik restore`).
//
// It is 0xFF, what the player itself reads there.  An erased page inside a
// mapped block reads as 0xFF straight from the cells, and a reader returns
// the same for a logical block no physical block carries (it has nothing
// else to return, and a block erased later reads the same), so an image of
// 0xFF is byte for byte what the player's volume holds.  Zeros would let the
// image file keep holes, but then a sector that was written with zeros (the
// quick format writes the FATs, the root directory and the hidden sectors as
// zeros) could not be told from one never written: a writer that leaves
// "unwritten" sectors erased would turn those zeros into 0xFF, which is a
// damaged FAT.  With 0xFF, a sector of the image that is all 0xFF is left
// erased (the player reads it so either way) and every other sector is
// written; a logical block with no sector to write stays unmapped.
#pragma once

#include <cstdint>

#include "sim/byte_runs.h"

namespace orvik::sim::inspect {

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint8_t kUnwrittenByte = 0xFF;

// True when the 512-byte sector reads as one no written page holds: left
// erased when an image is written onto the flash.
inline bool SectorIsUnwritten(const uint8_t* sector) {
  return AllBytesAre(sector, kSectorBytes, kUnwrittenByte);
}

}  // namespace orvik::sim::inspect
