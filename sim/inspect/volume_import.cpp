// Storing planned blocks into a simulated flash.
#include "sim/inspect/volume_import.h"

#include <map>
#include <set>

#include "sim/inspect/data_page.h"

namespace orvik::sim::inspect {
namespace {

// The flash's free blocks per zone and the writes, as the player's firmware
// keeps them.
class ZoneStore {
 public:
  ZoneStore(Player& player, const BlockMap& map) : player_(player), map_(map) {
    for (uint32_t block : map.duplicates) {
      const BlockEntry& entry = map.blocks[block];
      duplicates_.emplace(ZoneLayout::VolumeLogical(entry.zone, entry.logicalBlock), block);
    }
  }

  // Stores the block; false with *error when its zone has no block for it.
  bool Store(const PlannedBlock& block, VolumeImport& report, std::string* error) {
    const uint32_t pages = map_.pagesPerBlock;
    // Blocks that claim the number too would shadow the new one for a
    // reader that maps the lowest claimant: the firmware drops them.
    auto [first, last] = duplicates_.equal_range(block.logicalBlock);
    for (auto it = first; it != last; ++it) Release(it->second);
    duplicates_.erase(first, last);
    if (block.Empty()) {
      if (block.physical) Release(*block.physical);
      ++report.blocksCleared;
      return true;
    }
    const uint32_t zone = ZoneLayout::ZoneOfLogical(block.logicalBlock);
    std::optional<uint32_t> target = TakeFree(zone);
    if (!target) target = block.physical;  // rewritten in place, as a last resort
    if (!target) {
      *error = "zone " + std::to_string(zone) + " has no free block left for logical block " +
               std::to_string(block.logicalBlock);
      return false;
    }
    player_.EraseBlock(*target);
    const uint32_t number = ZoneLayout::ZoneRelative(block.logicalBlock);
    for (uint32_t page = 0; page < pages; ++page) {
      if (!block.pageWritten[page] && page != 0) continue;
      player_.ProgramPage(*target * pages + page,
                          BuildDataPage(block.data.data() + size_t{page} * kSectorBytes, number));
      ++report.pagesWritten;
    }
    if (block.physical && *block.physical != *target) Release(*block.physical);
    ++report.blocksWritten;
    return true;
  }

 private:
  std::optional<uint32_t> TakeFree(uint32_t zone) {
    auto [found, added] = free_.try_emplace(zone);
    if (added)
      for (uint32_t block : map_.FreeBlocks(zone)) found->second.insert(block);
    if (found->second.empty()) return std::nullopt;
    const uint32_t block = *found->second.begin();
    found->second.erase(found->second.begin());
    return block;
  }

  // The block no longer holds a logical block: erased, it is free again.
  void Release(uint32_t block) {
    player_.EraseBlock(block);
    const uint32_t zone = map_.Zones().ZoneOfBlock(block);
    auto [found, added] = free_.try_emplace(zone);
    if (added)
      for (uint32_t other : map_.FreeBlocks(zone)) found->second.insert(other);
    found->second.insert(block);
  }

  Player& player_;
  const BlockMap& map_;
  std::map<uint32_t, std::set<uint32_t>> free_;   // filled per zone when first needed
  std::multimap<uint32_t, uint32_t> duplicates_;  // logical block -> other claimants
};

}  // namespace

VolumeImport ImportVolume(Player& player, const VolumeGeometry& geometry,
                          const ImageSectorReader& image, bool apply) {
  LogicalVolume current(player);  // reads unwritten sectors as the image convention has them
  const BlockMap map = current.Map();
  ZoneStore store(player, map);
  VolumeImport report;
  std::string error;
  bool stopped = false;
  PlanVolumeImage(current, geometry, image, [&](const PlannedBlock& block) {
    if (stopped) return;
    if (!block.changes) {
      ++report.blocksUnchanged;
    } else if (!apply) {
      ++(block.Empty() ? report.blocksCleared : report.blocksWritten);
    } else if (!store.Store(block, report, &error)) {
      stopped = true;
    }
  });
  report.ok = !stopped;
  report.error = error;
  return report;
}

}  // namespace orvik::sim::inspect
