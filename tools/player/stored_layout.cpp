#include "player/stored_layout.h"

#include <algorithm>

#include "host/host_internals.h"

namespace orvik::tool {

StoredLayout ReadStoredLayout(FlashPages& pages) {
  StoredLayout layout;
  const host::BlockTable table = host::ScannedBlockTable();
  if (table.blocks.empty()) return layout;
  const size_t end = std::min<size_t>(pages.Type().blockCount, table.blocks.size());
  for (uint32_t block = table.cisBlock + 1; block < end; ++block) {
    const host::TableEntry entry = table.blocks[block];
    uint8_t tag = entry.tag;  // kFile: the version query already gave it a listed file's marker
    if (entry.use == host::BlockUse::kSystem) {
      // A plain system block: the system file's, or a file the query was
      // not asked about; its marks say which.
      std::span<const uint8_t> marks = pages.Read(block, 0, 2);
      if (marks.empty()) return layout;
      const host::SystemBlockTag read = host::ReadSystemBlockTag(marks);
      if (!read.Marked()) continue;
      tag = read.tag;
    } else if (entry.use != host::BlockUse::kFile) {
      continue;
    }
    layout.tags.insert(tag);
    if (block < table.firstReservedBlock && !layout.lowAreaTag) layout.lowAreaTag = tag;
  }
  layout.read = true;
  return layout;
}

}  // namespace orvik::tool
