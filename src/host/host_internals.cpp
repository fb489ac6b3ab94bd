// The readers of host/host_internals.h over the library's state.
#include "host/host_internals.h"

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

SystemAreaAssessment AssessSystemArea() {
  return media::AssessSystemArea(api::Context().FlashDriveFor(0));
}

}  // namespace orvik::host
