// The one drawing of a block map that `orvik blocks` and `orvik sim inspect`
// share: the same letters and the same counts from the same classification
// of the flash (sim::inspect::MapBlocks and the system files found in it).
//
//   .  free: good and erased          X  bad
//   C  the CIS block                  S  system block holding no file data
//   P  (a tag) system block holding   F  data: a logical block of the volume
//      that file's data               ?  written, without a block address
//
// A system block that an update cleared (marked, its data erased) is an S,
// not a block of the file whose tag it still carries.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "app/block_grid.h"
#include "player/system_files.h"
#include "sim/inspect/block_map.h"

namespace orvik::tool {

struct BlockView {
  std::vector<GridCell> cells;      // one per block
  std::vector<LegendEntry> legend;  // every letter with its count
  // {"free", "bad", "cis", "system", "systemUnused", "formatUsed",
  //  "unassigned", "files": {tag: blocks}}; system counts every system block.
  nlohmann::json counts;
};

BlockView ViewBlocks(const sim::inspect::BlockMap& map, const std::vector<StoredFile>& files);

}  // namespace orvik::tool
