// The readers of host/host_internals.h over the library's state.
#include "host/host_internals.h"

#include "api/global_lock.h"
#include "api/library_context.h"

namespace orvik::host {

const DriveMediaState* ScannedDrive() { return api::Context().DriveState(0); }

std::span<const uint8_t> ReadRawPages(const FlashTypeDescriptor& type, uint32_t block,
                                      uint32_t page, uint32_t count) {
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  if (drive.state->pageBuffer.empty() || count == 0 || page + count > type.pagesPerBlock ||
      block >= type.blockCount)
    return {};
  const uint32_t address = (block * type.pagesPerBlock + page) * type.dataSize;
  if (!protocol::FlashReadPages(nullptr, count, address, type.pageSize, type.dataSize, drive))
    return {};
  return {drive.state->pageBuffer.data(), size_t{count} * type.pageSize};
}

EraseResult EraseVolumeBlock(uint32_t block) {
  api::GlobalLockGuard lock;
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  const FlashTypeDescriptor* type = protocol::RecordedFlashType(*drive.state);
  if (type == nullptr || block >= type->blockCount) return EraseResult::kFailed;
  media::BlockEraser eraser(*type, drive, "volume write");
  return eraser.Erase(block);
}

VolumeBlockResult WriteVolumeBlock(uint32_t block, uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount) {
  api::GlobalLockGuard lock;
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  const FlashTypeDescriptor* type = protocol::RecordedFlashType(*drive.state);
  if (type == nullptr) return VolumeBlockResult::kFailed;
  return media::WriteVolumeBlock(drive, *type, block, logicalField, sectors, sectorCount);
}

SystemAreaAssessment AssessSystemArea() {
  return media::AssessSystemArea(api::Context().FlashDriveFor(0));
}

}  // namespace orvik::host
