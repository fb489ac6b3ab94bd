// The firmware files in a simulated player's system area, read straight from
// its flash: which blocks carry each file's tag, the copies of each file
// (the first copy after the CIS block, the second in the reserved area),
// their stored version words, and each copy's image as it was written.
//
// A copy is a run of system blocks of one tag that hold data, in physical
// order (bad blocks are passed over); a block with version words on pages
// 2 to 5 starts a new copy.  System blocks whose pages hold only 0xFF data
// are marked but unused (the layout marks the whole reserved area).  A
// copy's image is the data of its written pages, up to the last written one;
// it ends in the zero padding the writer adds.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "firmware_set/version_table.h"
#include "sim/inspect/block_map.h"
#include "sim/player.h"

namespace orvik::tool {

struct StoredCopy {
  std::vector<uint32_t> blocks;
  std::optional<VersionWords> version;  // from pages 2 to 5 of its first block
  std::vector<uint8_t> image;
};

struct StoredFile {
  uint8_t tag = 0;
  std::vector<StoredCopy> copies;
  std::vector<uint32_t> unusedBlocks;  // marked with the tag, no data
};

std::vector<StoredFile> FindSystemFiles(const sim::Player& player,
                                        const sim::inspect::BlockMap& map);

}  // namespace orvik::tool
