// The full format: erase everything after the CIS block that is free or
// holds firmware, lay the system area out anew, and optionally write the
// firmware files into it.
#include "media/full_format.h"

#include <algorithm>
#include <cstring>

#include "firmware/file_set.h"
#include "media/block_eraser.h"
#include "media/block_status.h"
#include "media/system_area.h"
#include "platform/page_buffer.h"
#include "platform/trace.h"
#include "protocol/flash_commands.h"
#include "transport/control_requests.h"
#include "transport/session.h"

namespace orvik::media {
namespace {

bool IsListedMarker(const _BinaryFilesInformation& files, uint8_t status) {
  for (uint32_t file = 0; file < files.fileCount; ++file)
    if (firmware::MarkerForTag(files.fileTags[file]) == status) return true;
  return false;
}

// Erases every block after the CIS block that is free or belongs to one of
// the files.  A block that cannot be erased becomes bad and is invalidated
// on the flash (an old volume or system block left as it was would still
// claim its place); false when one can be neither erased nor invalidated.
bool EraseFormatArea(const SystemArea& area, protocol::ProgressTarget& progress) {
  const protocol::FlashTypeDescriptor& type = area.type;
  uint8_t* table = area.state.blockStatus.data();
  uint32_t first = area.state.cisBlock + 1;
  if (first >= type.blockCount) return true;
  double step = 100.0 / (type.blockCount - first);
  BlockEraser eraser(type, area.drive, "full format");
  for (uint32_t block = first; block < type.blockCount; ++block) {
    if (table[block] != BLOCK_GOOD && !IsListedMarker(area.files, table[block])) continue;
    EraseResult result = eraser.Erase(block);
    table[block] = result == EraseResult::kErased ? BLOCK_GOOD : BLOCK_BAD;
    if (result == EraseResult::kFailed) return false;
    progress.AddClamped(step);
  }
  return true;
}

// The lowest block of the reserved area that the layout may use: never the
// CIS block or one in front of it, even when almost every block is bad.
uint32_t ReservedAreaStart(const SystemArea& area) {
  return std::max(area.state.firstReservedBlock, area.state.cisBlock + 1);
}

// Gives the low system blocks the marker of file lowAreaFile and the
// reserved area BLOCK_SYSTEM, in the table only.
void AssignSystemBlocks(const SystemArea& area) {
  const _BinaryFilesInformation& files = area.files;
  uint8_t* table = area.state.blockStatus.data();
  uint8_t lowMarker = firmware::MarkerForTag(files.fileTags[files.lowAreaFile - 1]);
  uint32_t assigned = 0;
  for (uint32_t block = area.state.cisBlock + 1;
       block < area.type.blockCount && assigned < LOW_SYSTEM_BLOCKS; ++block) {
    if (table[block] == BLOCK_BAD) continue;
    table[block] = lowMarker;
    ++assigned;
  }
  for (uint32_t block = ReservedAreaStart(area); block < area.type.blockCount; ++block)
    if (table[block] != BLOCK_BAD) table[block] = BLOCK_SYSTEM;
}

// Visits the blocks the layout writes, in order: the low system blocks (the
// first three that match after the CIS block, bad ones passed over), then
// every matching block of the reserved area; a block is visited once even
// where the two regions meet.  Stops when visit returns false.
template <typename Visit>
bool ForEachLayoutBlock(const SystemArea& area, Visit visit) {
  const uint8_t* table = area.state.blockStatus.data();
  auto matches = [&](uint32_t block) {
    return table[block] == BLOCK_GOOD || IsListedMarker(area.files, table[block]);
  };
  uint32_t block = area.state.cisBlock + 1;
  for (uint32_t found = 0; block < area.type.blockCount && found < LOW_SYSTEM_BLOCKS; ++block) {
    if (!matches(block)) continue;
    if (!visit(block)) return false;
    ++found;
  }
  for (uint32_t reserved = std::max(ReservedAreaStart(area), block);
       reserved < area.type.blockCount; ++reserved)
    if (matches(reserved) && !visit(reserved)) return false;
  return true;
}

// Marks the system area on the flash: every layout block written full of
// 0xFF in system mode with its own status as the marker.  The blocks are
// counted first, so the progress can follow them.
bool LayOutSystemArea(const SystemArea& area, protocol::ProgressTarget& progress) {
  const protocol::FlashTypeDescriptor& type = area.type;
  os::PageBuffer erased;
  if (!erased.Allocate(type.BlockBytes())) {
    os::TraceFailure("full format: no memory for the layout's block buffer");
    return false;
  }
  std::memset(erased.data(), 0xFF, erased.size());
  AssignSystemBlocks(area);
  uint64_t planned = 0;
  ForEachLayoutBlock(area, [&](uint32_t) { return ++planned, true; });
  uint64_t written = 0;
  bool ok = ForEachLayoutBlock(area, [&](uint32_t block) {
    protocol::PageMarking marking = SystemMarking(area.files, area.state.blockStatus[block]);
    if (!protocol::FlashWritePages(erased.data(), type.pagesPerBlock, block * type.BlockBytes(),
                                   type.pageSize, type.dataSize, marking, area.drive)) {
      os::TraceFailure("full format: marking system block %u failed: %s", block,
                       transport::LastFailureCause());
      return false;
    }
    progress.Store(100.0 * static_cast<double>(++written) / static_cast<double>(planned));
    return true;
  });
  progress.Store(100.0);
  return ok;
}

PROGRAM_MEDIA_STATUS WriteFiles(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                                protocol::ProgressTarget& progress) {
  progress.Announce(ORVIK_PHASE_FIRMWARE, 0.0);
  uint32_t cursor = 0;
  if (!WriteFirmwareCopies(area, prepared, &cursor, progress)) return PROGRAM_MEDIA_WRITE_FAILED;
  progress.Announce(ORVIK_PHASE_FIRMWARE, 100.0);
  return PROGRAM_MEDIA_DONE;
}

}  // namespace

PROGRAM_MEDIA_STATUS FullFormat(const SystemArea& area, const firmware::PreparedFileSet& prepared,
                                bool writeFiles, protocol::ProgressTarget& progress) {
  ORVIK_ULONG version = 0;
  if (!transport::GetDeviceVersion(&version)) {
    os::TraceFailure("full format: the device-version request failed; nothing was written");
    return PROGRAM_MEDIA_NO_DEVICE;
  }

  area.state.tableFresh = false;
  progress.Announce(ORVIK_PHASE_FORMAT_ERASE, 0.0);
  if (!EraseFormatArea(area, progress)) return PROGRAM_MEDIA_FORMAT_FAILED;
  progress.Announce(ORVIK_PHASE_FORMAT_ERASE, 100.0);
  progress.Announce(ORVIK_PHASE_SYSTEM_LAYOUT, 0.0);
  if (!LayOutSystemArea(area, progress)) return PROGRAM_MEDIA_FORMAT_FAILED;
  progress.Announce(ORVIK_PHASE_SYSTEM_LAYOUT, 100.0);
  if (!writeFiles) return PROGRAM_MEDIA_DONE;
  return WriteFiles(area, prepared, progress);
}

}  // namespace orvik::media
