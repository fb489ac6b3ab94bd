// Gives drive 0 the buffers a block status scan would give it, without a
// scan, so that page commands can be checked on their own.
#pragma once

#include "platform/os.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"

namespace orvik::testing {

class ScopedDriveBuffers {
 public:
  explicit ScopedDriveBuffers(uint32_t flashType) : state_(*protocol::MediaStateFor(0)) {
    protocol::ReleaseDriveBuffers(state_);
    const auto& type = protocol::kFlashTypes[flashType];
    state_.flashType = flashType;
    state_.pageBuffer = static_cast<uint8_t*>(os::TheOs().AllocatePages(type.RawBlockBytes()));
    state_.blockStatus = static_cast<uint8_t*>(os::TheOs().AllocatePages(type.blockCount));
  }
  ~ScopedDriveBuffers() {
    protocol::ReleaseDriveBuffers(state_);
    state_.flashType = protocol::kFlashTypeUnknown;
  }
  ScopedDriveBuffers(const ScopedDriveBuffers&) = delete;
  ScopedDriveBuffers& operator=(const ScopedDriveBuffers&) = delete;

 private:
  protocol::DriveMediaState& state_;
};

}  // namespace orvik::testing
