// Gives drive 0 the buffers a block status scan would give it, without a
// scan, so that page commands can be checked on their own.
#pragma once

#include "api/library_context.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"

namespace orvik::testing {

class ScopedDriveBuffers {
 public:
  explicit ScopedDriveBuffers(uint32_t flashType) : state_(*api::Context().DriveState(0)) {
    protocol::ReleaseDriveBuffers(state_);
    const auto& type = protocol::kFlashTypes[flashType];
    state_.flashType = flashType;
    state_.pageBuffer.Allocate(type.RawBlockBytes());
    state_.blockStatus.Allocate(type.blockCount);
  }
  ~ScopedDriveBuffers() {
    protocol::ReleaseDriveBuffers(state_);
    state_.flashType = FLASH_TYPE_UNKNOWN;
  }
  ScopedDriveBuffers(const ScopedDriveBuffers&) = delete;
  ScopedDriveBuffers& operator=(const ScopedDriveBuffers&) = delete;

 private:
  protocol::DriveMediaState& state_;
};

}  // namespace orvik::testing
