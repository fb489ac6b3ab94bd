#include "app/block_view.h"

#include <map>
#include <set>

#include "firmware_set/manifest.h"

namespace orvik::tool {

using sim::inspect::BlockRole;

BlockView ViewBlocks(const sim::inspect::BlockMap& map, const std::vector<StoredFile>& files) {
  // The blocks that hold a copy's data, by tag.
  std::map<uint32_t, uint8_t> dataOf;
  for (const StoredFile& file : files)
    for (const StoredCopy& copy : file.copies)
      for (uint32_t block : copy.blocks) dataOf[block] = file.tag;

  BlockView view;
  std::map<uint8_t, uint64_t> perFile;
  uint64_t systemUnused = 0;
  for (uint32_t block = 0; block < map.blocks.size(); ++block) {
    const sim::inspect::BlockEntry& entry = map.blocks[block];
    GridCell cell{'?', Style::kBad};
    switch (entry.role) {
      case BlockRole::kFree:
        cell = {'.', Style::kDim};
        break;
      case BlockRole::kBad:
        cell = {'X', Style::kBad};
        break;
      case BlockRole::kCis:
        cell = {'C', Style::kMagenta};
        break;
      case BlockRole::kSystem:
        if (auto it = dataOf.find(block); it != dataOf.end()) {
          const std::string tag = TagText(it->second);
          cell = {tag.size() == 1 ? tag[0] : '#', Style::kInfo};
          ++perFile[it->second];
        } else {
          cell = {'S', Style::kWarn};
          ++systemUnused;
        }
        break;
      case BlockRole::kLogical:
        cell = {entry.fieldsDisagree ? '!' : 'F', Style::kAccent};
        break;
      case BlockRole::kUnassigned:
        cell = {'?', Style::kBad};
        break;
    }
    view.cells.push_back(cell);
  }

  nlohmann::json filesJson = nlohmann::json::object();
  for (const auto& [tag, count] : perFile) filesJson[TagText(tag)] = count;
  view.counts = {{"free", map.Count(BlockRole::kFree)},
                 {"bad", map.Count(BlockRole::kBad)},
                 {"cis", map.Count(BlockRole::kCis)},
                 {"system", map.Count(BlockRole::kSystem)},
                 {"systemUnused", systemUnused},
                 {"formatUsed", map.Count(BlockRole::kLogical)},
                 {"unassigned", map.Count(BlockRole::kUnassigned)},
                 {"files", filesJson}};
  view.legend = {{'.', Style::kDim, "free", map.Count(BlockRole::kFree)},
                 {'X', Style::kBad, "bad", map.Count(BlockRole::kBad)},
                 {'C', Style::kMagenta, "CIS", map.Count(BlockRole::kCis)},
                 {'S', Style::kWarn, "system, unused", systemUnused}};
  for (const auto& [tag, count] : perFile) {
    const std::string text = TagText(tag);
    view.legend.push_back({text.size() == 1 ? text[0] : '#', Style::kInfo, "file " + text, count});
  }
  view.legend.push_back({'F', Style::kAccent, "file system", map.Count(BlockRole::kLogical)});
  if (map.Count(BlockRole::kUnassigned) > 0)
    view.legend.push_back(
        {'?', Style::kBad, "written, no block address", map.Count(BlockRole::kUnassigned)});
  return view;
}

}  // namespace orvik::tool
