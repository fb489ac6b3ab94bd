// The block map of a simulated flash as a SmartMedia reader sees it: which
// physical blocks are bad, which is the CIS block, which hold the firmware
// (system blocks and their files), and which carry which logical block, in
// every zone (zone_layout.h).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/inspect/zone_layout.h"
#include "sim/player.h"

namespace orvik::sim::inspect {

enum class BlockRole {
  kFree,        // good and erased (page 0 all 0xFF)
  kBad,         // block-status byte of page 0 not 0xFF (factory bad or invalidated)
  kCis,         // the card information block: first good block of zone 0 holding the CIS
  kSystem,      // firmware: status bytes 0 and "QV" on page 0
  kLogical,     // a data block: page 0 carries a valid block-address field
  kUnassigned,  // good and written, but without a valid block-address field
};

const char* BlockRoleName(BlockRole role);

struct BlockEntry {
  BlockRole role = BlockRole::kFree;
  uint32_t zone = 0;               // block / zone size
  uint32_t logicalBlock = 0;       // kLogical: zone-relative number from the address field
  bool fieldsDisagree = false;     // kLogical: the two copies name different blocks
  std::optional<uint8_t> fileTag;  // kSystem: 'M' and the tag on page 1
};

struct BlockMap {
  uint32_t flashType = 0;
  uint32_t pagesPerBlock = 0;
  uint32_t zoneBlocks = 0;  // physical blocks per zone (256, 512 or 1024)
  std::vector<BlockEntry> blocks;
  std::optional<uint32_t> cisBlock;
  // Every zone as a reader maps it: the volume's logical block (zone x 1000
  // + the zone-relative number) -> physical block; within a zone the lowest
  // physical block that claims a number wins.
  std::map<uint32_t, uint32_t> logical;
  // Physical blocks that claim a logical block another block of their zone
  // already holds.
  std::vector<uint32_t> duplicates;
  // Physical blocks whose field names 1000 or more: no logical block of a
  // zone, so a reader leaves them out.
  std::vector<uint32_t> outOfRange;

  ZoneLayout Zones() const { return {zoneBlocks, static_cast<uint32_t>(blocks.size())}; }
  uint32_t Count(BlockRole role) const;
  // System blocks per file tag (0xFF: no tag on page 1).
  std::map<uint8_t, uint32_t> SystemBlocksByTag() const;
  // The physical block holding the volume's logical block, in any zone.
  std::optional<uint32_t> PhysicalBlockOf(uint32_t logicalBlock) const;
  // The free blocks of a zone (good, page 0 erased, neither CIS nor system
  // nor claimed), lowest first: where a writer puts a logical block anew.
  std::vector<uint32_t> FreeBlocks(uint32_t zone) const;
};

// Reads page 0 (and page 1 of system blocks) of every block.
BlockMap MapBlocks(const Player& player);

// A few lines: the counts per role, the CIS block, the files of the system
// area and the logical blocks of every zone.
std::string DescribeBlockMap(const BlockMap& map);

}  // namespace orvik::sim::inspect
