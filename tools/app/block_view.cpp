#include "app/block_view.h"

#include <map>
#include <set>

#include "firmware_set/manifest.h"

namespace orvik::tool {

using sim::inspect::BlockRole;

namespace {

// What the system blocks hold: blocks of each file's data, and blocks
// holding none.
struct SystemUse {
  std::map<uint8_t, uint64_t> perFile;
  uint64_t unused = 0;
};

// The blocks that hold a copy's data, by tag.
std::map<uint32_t, uint8_t> DataBlockTags(const std::vector<StoredFile>& files) {
  std::map<uint32_t, uint8_t> dataOf;
  for (const StoredFile& file : files)
    for (const StoredCopy& copy : file.copies)
      for (uint32_t block : copy.blocks) dataOf[block] = file.tag;
  return dataOf;
}

GridCell SystemBlockCell(uint32_t block, const std::map<uint32_t, uint8_t>& dataOf,
                         SystemUse& use) {
  if (auto it = dataOf.find(block); it != dataOf.end()) {
    const std::string tag = TagText(it->second);
    ++use.perFile[it->second];
    return {tag.size() == 1 ? tag[0] : '#', Style::kInfo};
  }
  ++use.unused;
  return {'S', Style::kWarn};
}

GridCell BlockCell(const sim::inspect::BlockEntry& entry, uint32_t block,
                   const std::map<uint32_t, uint8_t>& dataOf, SystemUse& use) {
  switch (entry.role) {
    case BlockRole::kFree:
      return {'.', Style::kDim};
    case BlockRole::kBad:
      return {'X', Style::kBad};
    case BlockRole::kCis:
      return {'C', Style::kMagenta};
    case BlockRole::kSystem:
      return SystemBlockCell(block, dataOf, use);
    case BlockRole::kLogical:
      return {entry.fieldsDisagree ? '!' : 'F', Style::kAccent};
    case BlockRole::kUnassigned:
      return {'?', Style::kBad};
  }
  return {'?', Style::kBad};
}

nlohmann::json BlockCounts(const sim::inspect::BlockMap& map, const SystemUse& use) {
  nlohmann::json filesJson = nlohmann::json::object();
  for (const auto& [tag, count] : use.perFile) filesJson[TagText(tag)] = count;
  return {{"free", map.Count(BlockRole::kFree)},
          {"bad", map.Count(BlockRole::kBad)},
          {"cis", map.Count(BlockRole::kCis)},
          {"system", map.Count(BlockRole::kSystem)},
          {"systemUnused", use.unused},
          {"formatUsed", map.Count(BlockRole::kLogical)},
          {"unassigned", map.Count(BlockRole::kUnassigned)},
          {"files", filesJson}};
}

std::vector<LegendEntry> BlockLegend(const sim::inspect::BlockMap& map, const SystemUse& use) {
  std::vector<LegendEntry> legend = {{'.', Style::kDim, "free", map.Count(BlockRole::kFree)},
                                     {'X', Style::kBad, "bad", map.Count(BlockRole::kBad)},
                                     {'C', Style::kMagenta, "CIS", map.Count(BlockRole::kCis)},
                                     {'S', Style::kWarn, "system, unused", use.unused}};
  for (const auto& [tag, count] : use.perFile) {
    const std::string text = TagText(tag);
    legend.push_back({text.size() == 1 ? text[0] : '#', Style::kInfo, "file " + text, count});
  }
  legend.push_back({'F', Style::kAccent, "file system", map.Count(BlockRole::kLogical)});
  if (map.Count(BlockRole::kUnassigned) > 0)
    legend.push_back(
        {'?', Style::kBad, "written, no block address", map.Count(BlockRole::kUnassigned)});
  return legend;
}

}  // namespace

BlockView ViewBlocks(const sim::inspect::BlockMap& map, const std::vector<StoredFile>& files) {
  const std::map<uint32_t, uint8_t> dataOf = DataBlockTags(files);
  BlockView view;
  SystemUse use;
  for (uint32_t block = 0; block < map.blocks.size(); ++block)
    view.cells.push_back(BlockCell(map.blocks[block], block, dataOf, use));
  view.counts = BlockCounts(map, use);
  view.legend = BlockLegend(map, use);
  return view;
}

}  // namespace orvik::tool
