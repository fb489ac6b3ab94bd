// The volume writes of a restore, on drive 0's scanned type.
#include "api/global_lock.h"
#include "api/library_context.h"
#include "host/host_internals.h"
#include "media/block_eraser.h"
#include "media/volume_block.h"
#include "protocol/media_state.h"

namespace orvik::host {

namespace {

// The host's results name the media layer's one for one.
template <class Host, class Library>
constexpr bool Same(Host host, Library library) {
  return static_cast<int>(host) == static_cast<int>(library);
}
static_assert(Same(EraseResult::kErased, media::EraseResult::kErased) &&
              Same(EraseResult::kInvalidated, media::EraseResult::kInvalidated) &&
              Same(EraseResult::kFailed, media::EraseResult::kFailed));
static_assert(Same(VolumeBlockResult::kWritten, media::VolumeBlockResult::kWritten) &&
              Same(VolumeBlockResult::kInvalidated, media::VolumeBlockResult::kInvalidated) &&
              Same(VolumeBlockResult::kFailed, media::VolumeBlockResult::kFailed));

}  // namespace

EraseResult EraseVolumeBlock(uint32_t block) {
  api::GlobalLockGuard lock;
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  const protocol::FlashTypeDescriptor* type = protocol::RecordedFlashType(*drive.state);
  if (type == nullptr || block >= type->blockCount) return EraseResult::kFailed;
  media::BlockEraser eraser(*type, drive, "volume write");
  return static_cast<EraseResult>(eraser.Erase(block));
}

VolumeBlockResult WriteVolumeBlock(uint32_t block, uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount) {
  api::GlobalLockGuard lock;
  const protocol::FlashDrive drive = api::Context().FlashDriveFor(0);
  const protocol::FlashTypeDescriptor* type = protocol::RecordedFlashType(*drive.state);
  if (type == nullptr) return VolumeBlockResult::kFailed;
  return static_cast<VolumeBlockResult>(
      media::WriteVolumeBlock(drive, *type, block, logicalField, sectors, sectorCount));
}

}  // namespace orvik::host
