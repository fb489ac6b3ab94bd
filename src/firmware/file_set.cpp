// The firmware file set record.
#include "firmware/file_set.h"

namespace orvik::firmware {

uint8_t MarkerForTag(uint8_t tag) {
  return tag == kSystemFileTag ? kSystemBlockMarker : static_cast<uint8_t>(tag + 4);
}

uint8_t TagForMarker(uint8_t marker) {
  return marker == kSystemBlockMarker ? kSystemFileTag : static_cast<uint8_t>(marker - 4);
}

bool ValidateFileSet(const _BinaryFilesInformation* files) {
  if (files == nullptr) return false;
  if (files->fileCount < 1 || files->fileCount > MAX_FILES) return false;
  bool seen[256] = {};
  for (uint32_t i = 0; i < files->fileCount; ++i) {
    uint8_t tag = files->fileTags[i];
    if (tag >= kFirstCollidingTag || seen[tag]) return false;
    seen[tag] = true;
  }
  return true;
}

bool LowAreaFileValid(const _BinaryFilesInformation& files) {
  return files.lowAreaFile >= 1 && files.lowAreaFile <= files.fileCount;
}

}  // namespace orvik::firmware
