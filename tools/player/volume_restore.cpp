#include "player/volume_restore.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "base/interruption.h"
#include "base/tool_error.h"
#include "player/progress_watch.h"
#include "sim/inspect/zone_layout.h"

namespace orvik::tool {
namespace {

using sim::inspect::kSectorBytes;
using sim::inspect::PlannedBlock;
using sim::inspect::VolumeGeometry;
using sim::inspect::ZoneLayout;

const char* kCutState =
    "The restore was cut off: the volume holds part of the image and no boot sector, so no "
    "reader takes it for a sound one.";

// The first block of the run of system (or bad) blocks at the top of the
// flash: the firmware's area, never a place for the volume even when no
// reservation is configured on this computer.
uint32_t TopAreaStart(const std::vector<host::TableEntry>& table) {
  auto block = static_cast<uint32_t>(table.size());
  while (block > 0 && table[block - 1].use != host::BlockUse::kFree) --block;
  return block;
}

// The flash's free blocks per zone and the writes, through the library.
class FlashBlockStore {
 public:
  FlashBlockStore(const FlashSurvey& survey, std::string againCommand)
      : survey_(survey),
        zones_(survey.map.Zones()),
        limit_(std::min(survey.scan.firstReservedBlock, TopAreaStart(survey.table))),
        againCommand_(std::move(againCommand)) {
    for (uint32_t block : survey.map.duplicates) {
      const sim::inspect::BlockEntry& entry = survey.map.blocks[block];
      duplicates_.emplace(ZoneLayout::VolumeLogical(entry.zone, entry.logicalBlock), block);
    }
  }

  // Puts the block's data onto the flash (or unmaps it when it holds none);
  // returns the block that holds it now.
  std::optional<uint32_t> Store(const PlannedBlock& block, VolumeRestore& counts) {
    // Other blocks claiming the number would shadow the new one for a
    // reader that maps the lowest claimant.
    auto [first, last] = duplicates_.equal_range(block.logicalBlock);
    for (auto it = first; it != last; ++it) Release(it->second, block.logicalBlock);
    duplicates_.erase(first, last);
    if (block.Empty()) {
      if (block.physical) Release(*block.physical, block.logicalBlock);
      ++counts.blocksCleared;
      return std::nullopt;
    }
    const uint32_t zone = ZoneLayout::ZoneOfLogical(block.logicalBlock);
    uint32_t pages = 0;
    for (uint32_t page = 0; page < block.pageWritten.size(); ++page)
      if (block.pageWritten[page]) pages = page + 1;
    for (;;) {
      std::optional<uint32_t> target = TakeFree(zone);
      if (!target) target = block.physical;  // in place, when the zone has no other
      if (!target) NoFreeBlock(block.logicalBlock, zone);
      const host::VolumeBlockResult written = host::WriteVolumeBlock(
          *target, static_cast<uint16_t>(ZoneLayout::ZoneRelative(block.logicalBlock)),
          block.data.data(), pages);
      if (written == host::VolumeBlockResult::kFailed) Stopped(block.logicalBlock, *target);
      if (written == host::VolumeBlockResult::kInvalidated) {
        ++counts.blocksRetired;  // bad now: the data goes to another block
        if (target == block.physical) NoFreeBlock(block.logicalBlock, zone);
        continue;
      }
      if (block.physical && *block.physical != *target)
        Release(*block.physical, block.logicalBlock);
      ++counts.blocksWritten;
      return target;
    }
  }

 private:
  std::set<uint32_t>& FreeOf(uint32_t zone) {
    auto [found, added] = free_.try_emplace(zone);
    if (added)
      for (uint32_t block : survey_.map.FreeBlocks(zone))
        if (block < limit_ && survey_.table[block].use == host::BlockUse::kFree)
          found->second.insert(block);
    return found->second;
  }

  std::optional<uint32_t> TakeFree(uint32_t zone) {
    std::set<uint32_t>& free = FreeOf(zone);
    if (free.empty()) return std::nullopt;
    const uint32_t block = *free.begin();
    free.erase(free.begin());
    return block;
  }

  // The block no longer holds a logical block: erased, it is free again
  // (one that cannot be erased is bad now, and stays out).
  void Release(uint32_t block, uint32_t logicalBlock) {
    const host::EraseResult erased = host::EraseVolumeBlock(block);
    if (erased == host::EraseResult::kFailed) Stopped(logicalBlock, block);
    if (erased == host::EraseResult::kErased) FreeOf(zones_.ZoneOfBlock(block)).insert(block);
  }

  [[noreturn]] void Stopped(uint32_t logicalBlock, uint32_t block) const {
    Problem problem;
    problem.code = "no-answer";
    problem.message = fmt::format("Writing logical block {} of the volume (flash block {}) failed.",
                                  logicalBlock, block);
    problem.cause = "The player was unplugged or lost power, or its driver stopped responding.";
    problem.playerState = kCutState;
    problem.action = "Reconnect the player and run `" + againCommand_ +
                     "` again: it writes what is still missing.";
    problem.details = {{"logicalBlock", logicalBlock}, {"block", block}};
    throw ToolError(std::move(problem));
  }

  [[noreturn]] void NoFreeBlock(uint32_t logicalBlock, uint32_t zone) const {
    Problem problem;
    problem.code = "volume-full";
    problem.message = fmt::format(
        "Zone {} of the flash has no good block left for logical block {} of the volume.", zone,
        logicalBlock);
    problem.cause = "Too many of the zone's blocks went bad.";
    problem.playerState = kCutState;
    problem.action =
        "The image cannot be written onto this flash; `orvik fix` writes an empty file system.";
    throw ToolError(std::move(problem));
  }

  const FlashSurvey& survey_;
  const ZoneLayout zones_;
  const uint32_t limit_;
  const std::string againCommand_;
  std::map<uint32_t, std::set<uint32_t>> free_;   // filled per zone when first needed
  std::multimap<uint32_t, uint32_t> duplicates_;  // logical block -> other claimants
};

// The logical blocks the partition touches.
uint64_t BlocksOfPartition(const VolumeGeometry& geometry, uint32_t pagesPerBlock) {
  return (geometry.EndSector() + pagesPerBlock - 1) / pagesPerBlock -
         geometry.partitionStart / pagesPerBlock;
}

}  // namespace

VolumeRestore PlanRestore(const FlashSurvey& survey, const VolumeGeometry& geometry,
                          const sim::inspect::ImageSectorReader& image) {
  sim::inspect::LogicalVolume current(*survey.copy);
  VolumeRestore counts;
  sim::inspect::PlanVolumeImage(current, geometry, image, [&](const PlannedBlock& block) {
    if (!block.changes)
      ++counts.blocksUnchanged;
    else
      ++(block.Empty() ? counts.blocksCleared : counts.blocksWritten);
  });
  return counts;
}

VolumeRestore WriteRestore(const FlashSurvey& survey, const VolumeGeometry& geometry,
                           const sim::inspect::ImageSectorReader& image, Events& events,
                           const std::string& againCommand) {
  VolumeRestore counts;
  if (!PlanRestore(survey, geometry, image).ChangesAnything()) {
    counts.blocksUnchanged =
        static_cast<uint32_t>(BlocksOfPartition(geometry, survey.type->pagesPerBlock));
    return counts;
  }
  // The plan reads the copy taken before the first write, which stays
  // right for every block not yet visited: only free blocks and the
  // visited blocks' old places are written.
  sim::inspect::LogicalVolume current(*survey.copy);
  FlashBlockStore store(survey, againCommand);
  const uint32_t pages = survey.type->pagesPerBlock;
  const uint32_t bootLogical = geometry.partitionStart / pages;
  const uint32_t bootPage = geometry.partitionStart % pages;
  const uint64_t total = BlocksOfPartition(geometry, pages);
  std::optional<PlannedBlock> boot;
  uint64_t visited = 0;
  WorkBar bar(events, "Writing the volume");
  sim::inspect::PlanVolumeImage(current, geometry, image, [&](const PlannedBlock& block) {
    if (block.logicalBlock == bootLogical) {
      // First visited: stored now without its boot sector, whole at the end.
      boot = block;
      PlannedBlock stripped = block;
      std::fill_n(stripped.data.begin() + size_t{bootPage} * kSectorBytes, kSectorBytes,
                  sim::inspect::kUnwrittenByte);
      stripped.pageWritten[bootPage] = false;
      VolumeRestore first;  // the boot block is counted once, at the end
      boot->physical = store.Store(stripped, first);
      counts.blocksRetired += first.blocksRetired;
    } else if (block.changes) {
      store.Store(block, counts);
    } else {
      ++counts.blocksUnchanged;
    }
    bar.Update(100.0 * static_cast<double>(++visited) / static_cast<double>(total + 1));
    ThrowIfInterrupted(kCutState,
                       "Run `" + againCommand + "` again: it writes what is still missing.");
  });
  store.Store(*boot, counts);
  bar.Finish();
  return counts;
}

}  // namespace orvik::tool
