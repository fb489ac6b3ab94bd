// Everything a check needs from a player's flash, read once through the
// library: the block scan (and its table), the library's judgement of the
// system area, and a copy of the flash holding page 0 and 1 of every block
// and every page of the blocks that hold anything (system blocks and the
// volume's blocks).  Reads only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/events.h"
#include "firmware_set/host_file_set.h"
#include "host/host_internals.h"
#include "player/media_runner.h"
#include "sim/inspect/block_map.h"
#include "sim/player.h"

namespace orvik::tool {

struct FlashSurvey {
  const host::FlashType* type = nullptr;
  ScanFacts scan;
  std::vector<host::TableEntry> table;  // the scan's block table
  host::SystemAreaAssessment area;
  std::shared_ptr<sim::Player> copy;
  sim::inspect::BlockMap map;  // of the copy
  std::vector<uint32_t> lowBlocks;
  // Bad blocks the library retired (their first page zero-filled by it),
  // as opposed to the chip's factory marks.
  uint32_t retiredBlocks = 0;
  uint32_t badBlocks = 0;
};

// Runs the scan with the set's tags (or none) and reads the flash.
FlashSurvey SurveyFlash(MediaRunner& media, HostFileSet& files, Events& events);

}  // namespace orvik::tool
