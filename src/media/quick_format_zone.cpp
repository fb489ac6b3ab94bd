// The quick format's erase stage and the sizing both stages share.
#include "firmware/reserved_area.h"
#include "media/block_eraser.h"
#include "media/block_status.h"
#include "media/format_layout.h"
#include "media/quick_format.h"
#include "protocol/flash_commands.h"

namespace orvik::media {

uint32_t FirstZoneEnd(const protocol::FlashTypeDescriptor& type) {
  uint32_t zone = protocol::FirstZoneBlocks(type.typeIndex);
  return zone < type.blockCount ? zone : type.blockCount;
}

std::optional<uint32_t> PlannedPartitionSectors(const protocol::DriveMediaState& state,
                                                bool sizeFromRegistry) {
  const protocol::FlashTypeDescriptor* type = protocol::RecordedFlashType(state);
  if (type == nullptr || state.blockStatus.empty() || state.pageBuffer.empty()) return std::nullopt;
  uint32_t reservedBlocks = firmware::ReadReservedBlockCount(type->dataSize, type->pagesPerBlock);
  return PartitionSectors(
      type->typeIndex, sizeFromRegistry, ReservedSectors(type->pagesPerBlock, reservedBlocks),
      type->logicalBlockCount, state.systemBlockCount, type->pagesPerBlock, type->dataSize);
}

bool EraseFirstZone(const protocol::FlashDrive& drive, protocol::ProgressTarget& progress) {
  protocol::DriveMediaState* state = drive.state;
  if (state == nullptr || state->blockStatus.empty()) return false;
  const protocol::FlashTypeDescriptor* type = protocol::RecordedFlashType(*state);
  if (type == nullptr) return false;
  // The step follows the zone's nominal size (256, 512 or 1024 blocks).
  const double step = 100.0 / protocol::FirstZoneBlocks(type->typeIndex);
  uint8_t* table = state->blockStatus.data();
  BlockEraser eraser(*type, drive, "quick format");
  for (uint32_t block = 0; block < FirstZoneEnd(*type); ++block) {
    if (table[block] != BLOCK_GOOD) continue;
    EraseResult result = eraser.Erase(block);
    if (result != EraseResult::kErased) table[block] = BLOCK_BAD;
    if (result == EraseResult::kFailed) return false;
    progress.AddClamped(step);
  }
  return true;
}

}  // namespace orvik::media
