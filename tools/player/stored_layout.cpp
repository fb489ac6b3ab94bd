#include "player/stored_layout.h"

#include "host/host_internals.h"

namespace orvik::tool {

StoredLayout ReadStoredLayout(FlashPages& pages) {
  StoredLayout layout;
  const host::DriveMediaState* drive = host::ScannedDrive();
  if (drive == nullptr || drive->blockStatus.empty()) return layout;
  const host::FlashTypeDescriptor& type = pages.Type();
  for (uint32_t block = drive->cisBlock + 1; block < type.blockCount; ++block) {
    const uint8_t entry = drive->blockStatus[block];
    if (entry == host::BLOCK_BAD || entry == host::BLOCK_FORMAT_USED || entry == host::BLOCK_CIS ||
        entry == host::BLOCK_GOOD)
      continue;
    uint8_t tag = 0;
    if (entry != host::BLOCK_SYSTEM) {
      // The version query already gave it a listed file's marker.
      tag = host::TagForMarker(entry);
    } else {
      // A plain system block: the system file's, or a file the query was
      // not asked about; its marks say which.
      std::span<const uint8_t> marks = pages.Read(block, 0, 2);
      if (marks.empty()) return layout;
      if (SpareWord(marks, type, 0) != host::SYSTEM_MARK) continue;
      const uint16_t fileMark = SpareWord(marks, type, 1);
      if ((fileMark & 0xFF) != host::FILE_MARK) continue;
      tag = static_cast<uint8_t>(fileMark >> 8);
    }
    layout.tags.insert(tag);
    if (block < drive->firstReservedBlock && !layout.lowAreaTag) layout.lowAreaTag = tag;
  }
  layout.read = true;
  return layout;
}

}  // namespace orvik::tool
