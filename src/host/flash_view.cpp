// The host's view of drive 0's flash: the type table, the scanned block
// table, raw pages and the marks of system blocks.
#include <algorithm>

#include "api/library_context.h"
#include "firmware/file_set.h"
#include "host/host_internals.h"
#include "media/block_status.h"
#include "media/system_area.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_identification.h"
#include "protocol/flash_types.h"
#include "protocol/system_block_tag.h"

namespace orvik::host {
namespace {

FlashType FlashTypeFrom(const protocol::FlashTypeDescriptor& descriptor) {
  FlashType type;
  type.typeIndex = descriptor.typeIndex;
  type.pageSize = descriptor.pageSize;
  type.dataSize = descriptor.dataSize;
  type.pagesPerBlock = descriptor.pagesPerBlock;
  type.blockCount = descriptor.blockCount;
  type.logicalBlockCount = descriptor.logicalBlockCount;
  type.firstZoneBlocks = protocol::FirstZoneBlocks(descriptor.typeIndex);
  return type;
}

TableEntry EntryFor(uint8_t status) {
  switch (status) {
    case media::BLOCK_BAD:
      return {BlockUse::kBad, 0};
    case media::BLOCK_FORMAT_USED:
      return {BlockUse::kVolume, 0};
    case media::BLOCK_CIS:
      return {BlockUse::kCis, 0};
    case media::BLOCK_SYSTEM:
      return {BlockUse::kSystem, 0};
    case media::BLOCK_GOOD:
      return {BlockUse::kFree, 0};
    default:  // the version query gave it a listed file's marker
      return {BlockUse::kFile, firmware::TagForMarker(status)};
  }
}

}  // namespace

std::optional<FlashType> FlashTypeOf(uint32_t typeIndex) {
  const protocol::FlashTypeDescriptor* descriptor = protocol::FlashTypeFor(typeIndex);
  if (descriptor == nullptr) return std::nullopt;
  return FlashTypeFrom(*descriptor);
}

uint32_t FlashTypeForChip(uint8_t maker, uint8_t device) {
  return protocol::FlashTypeForIdentification(maker, device);
}

uint64_t LargestFlashBytes() {
  uint64_t largest = 0;
  for (const protocol::FlashTypeDescriptor& type : protocol::kFlashTypes)
    largest = std::max<uint64_t>(largest, uint64_t{type.blockCount} * type.BlockBytes());
  return largest;
}

BlockTable ScannedBlockTable() {
  BlockTable table;
  const protocol::DriveMediaState* drive = api::Context().DriveState(0);
  if (drive == nullptr) return table;
  table.cisBlock = drive->cisBlock;
  table.systemBlockCount = drive->systemBlockCount;
  table.firstReservedBlock = drive->firstReservedBlock;
  table.blocks.reserve(drive->blockStatus.size());
  for (size_t block = 0; block < drive->blockStatus.size(); ++block)
    table.blocks.push_back(EntryFor(drive->blockStatus[block]));
  return table;
}

std::span<const uint8_t> ReadRawPages(const FlashType& type, uint32_t block, uint32_t page,
                                      uint32_t count) {
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  if (drive.state->pageBuffer.empty() || count == 0 || page + count > type.pagesPerBlock ||
      block >= type.blockCount)
    return {};
  const uint32_t address = (block * type.pagesPerBlock + page) * type.dataSize;
  if (!protocol::FlashReadPages(nullptr, count, address, type.pageSize, type.dataSize, drive))
    return {};
  return {drive.state->pageBuffer.data(), size_t{count} * type.pageSize};
}

SystemBlockTag ReadSystemBlockTag(std::span<const uint8_t> rawPages) {
  if (rawPages.size() < 2 * size_t{protocol::kPageSize}) return {};
  const protocol::SystemBlockMarks marks =
      protocol::ReadSystemBlockMarks(rawPages.data(), protocol::kPageSize, protocol::kDataSize);
  return {marks.systemStatus, marks.systemMark, marks.fileMark, marks.tag};
}

uint32_t LowSystemBlockCount() { return media::LOW_SYSTEM_BLOCKS; }

}  // namespace orvik::host
