// The reader's view of the blocks.
#include "sim/inspect/block_map.h"

#include <algorithm>
#include <sstream>

#include "sim/byte_order.h"
#include "sim/inspect/cis.h"
#include "sim/inspect/page_check.h"

namespace orvik::sim::inspect {
namespace {

uint32_t ZoneBlocks(uint32_t flashType) {
  if (flashType <= 1) return 256;
  if (flashType == 2) return 512;
  return 1024;
}

BlockEntry Classify(const Player& player, uint32_t block, bool cisFound, bool* isCis) {
  const uint32_t pagesPerBlock = player.PagesPerBlock();
  const RawPage page0 = player.ReadPage(block * pagesPerBlock);
  const uint8_t* spare = page0.data() + kPageDataBytes;
  BlockEntry entry;
  *isCis = false;
  if (spare[kSpareBlockStatus] == 0x00 && spare[kSpareDataStatus] == 0x00 &&
      GetLittleEndian(&spare[kSpareAddress1], 2) == SYSTEM_MARK) {
    entry.role = BlockRole::kSystem;
    const RawPage page1 = player.ReadPage(block * pagesPerBlock + 1);
    if (page1[kPageDataBytes + kSpareAddress1] == FILE_MARK)
      entry.fileTag = page1[kPageDataBytes + kSpareAddress1 + 1];
    return entry;
  }
  if (spare[kSpareBlockStatus] != 0xFF) {
    entry.role = BlockRole::kBad;
    return entry;
  }
  if (!cisFound && HoldsCis(page0.data())) {
    entry.role = BlockRole::kCis;
    *isCis = true;
    return entry;
  }
  if (PageIsErased(page0.data())) return entry;  // free
  AddressFields fields = ReadAddressFields(spare);
  if (!fields.logicalBlock) {
    entry.role = BlockRole::kUnassigned;
    return entry;
  }
  entry.role = BlockRole::kLogical;
  entry.logicalBlock = *fields.logicalBlock;
  entry.fieldsDisagree = fields.copiesDisagree;
  return entry;
}

// Blocks are classified in increasing order, so the lowest claimant of a
// number keeps it.
void AddLogical(BlockMap& map, const BlockEntry& entry, uint32_t block) {
  if (entry.logicalBlock >= kLogicalBlocksPerZone) {
    map.outOfRange.push_back(block);
    return;
  }
  const uint32_t volumeBlock = ZoneLayout::VolumeLogical(entry.zone, entry.logicalBlock);
  if (!map.logical.emplace(volumeBlock, block).second) map.duplicates.push_back(block);
}

}  // namespace

const char* BlockRoleName(BlockRole role) {
  switch (role) {
    case BlockRole::kFree:
      return "free";
    case BlockRole::kBad:
      return "bad";
    case BlockRole::kCis:
      return "CIS";
    case BlockRole::kSystem:
      return "system";
    case BlockRole::kLogical:
      return "logical";
    case BlockRole::kUnassigned:
      return "unassigned";
  }
  return "?";
}

uint32_t BlockMap::Count(BlockRole role) const {
  return static_cast<uint32_t>(std::count_if(
      blocks.begin(), blocks.end(), [role](const BlockEntry& e) { return e.role == role; }));
}

std::map<uint8_t, uint32_t> BlockMap::SystemBlocksByTag() const {
  std::map<uint8_t, uint32_t> tags;
  for (const BlockEntry& entry : blocks)
    if (entry.role == BlockRole::kSystem) ++tags[entry.fileTag.value_or(0xFF)];
  return tags;
}

std::optional<uint32_t> BlockMap::PhysicalBlockOf(uint32_t logicalBlock) const {
  auto found = logical.find(logicalBlock);
  if (found == logical.end()) return std::nullopt;
  return found->second;
}

std::vector<uint32_t> BlockMap::FreeBlocks(uint32_t zone) const {
  const ZoneLayout zones = Zones();
  std::vector<uint32_t> free;
  for (uint32_t block = zones.FirstBlock(zone); block < zones.EndBlock(zone); ++block)
    if (blocks[block].role == BlockRole::kFree) free.push_back(block);
  return free;
}

ZoneLayout ZoneLayout::ForFlashType(uint32_t flashType, uint32_t blockCount) {
  return {ZoneBlocks(flashType), blockCount};
}

BlockMap MapBlocks(const Player& player) {
  BlockMap map;
  map.flashType = player.FlashType();
  map.pagesPerBlock = player.PagesPerBlock();
  map.zoneBlocks = ZoneBlocks(map.flashType);
  const uint32_t blockCount = player.BlockCount();
  map.blocks.resize(blockCount);
  for (uint32_t block = 0; block < blockCount; ++block) {
    const bool inZone0 = block < map.zoneBlocks;
    // Only zone 0 holds the CIS block: the first good block that carries it.
    bool isCis = false;
    BlockEntry entry = Classify(player, block, map.cisBlock.has_value() || !inZone0, &isCis);
    entry.zone = block / map.zoneBlocks;
    if (isCis) map.cisBlock = block;
    if (entry.role == BlockRole::kLogical) AddLogical(map, entry, block);
    map.blocks[block] = entry;
  }
  return map;
}

std::string DescribeBlockMap(const BlockMap& map) {
  std::ostringstream out;
  out << "flash type " << map.flashType << ": " << map.blocks.size() << " blocks of "
      << map.pagesPerBlock << " pages, zones of " << map.zoneBlocks << " blocks\n";
  for (BlockRole role : {BlockRole::kFree, BlockRole::kBad, BlockRole::kCis, BlockRole::kSystem,
                         BlockRole::kLogical, BlockRole::kUnassigned})
    out << "  " << BlockRoleName(role) << ": " << map.Count(role) << "\n";
  if (map.cisBlock) out << "  CIS block: " << *map.cisBlock << "\n";
  for (auto [tag, count] : map.SystemBlocksByTag()) {
    out << "  system blocks of file ";
    if (tag >= 0x20 && tag < 0x7F)
      out << "'" << static_cast<char>(tag) << "'";
    else
      out << "0x" << std::hex << uint32_t{tag} << std::dec;
    out << ": " << count << "\n";
  }
  out << "  logical blocks: " << map.logical.size();
  if (!map.logical.empty()) {
    out << " (";
    constexpr size_t kShown = 16;
    size_t shown = 0;
    for (auto [logical, physical] : map.logical) {
      if (shown == kShown) {
        out << ", ...";
        break;
      }
      out << (shown++ == 0 ? "" : ", ") << logical << "->" << physical;
    }
    out << ")";
  }
  out << "\n";
  if (!map.duplicates.empty())
    out << "  duplicate logical blocks: " << map.duplicates.size() << "\n";
  if (!map.outOfRange.empty())
    out << "  block numbers beyond a zone: " << map.outOfRange.size() << "\n";
  return out.str();
}

}  // namespace orvik::sim::inspect
