// Erasing blocks for the erase passes: the quick format's first-zone erase,
// the data-area erase and the full format's erase.
//
// A block whose erase fails keeps whatever it held: an old volume block
// still claims its logical block number and would shadow the new volume's
// block of that number, an old system block would still count as one.  So a
// block that cannot be erased is invalidated on the flash as the block scan
// invalidates the blocks in front of the CIS block: every page zero-filled
// with an all-zero redundant area (no page claims a logical block; every
// later scan finds the block bad).  When that fails too, or the device has
// stopped answering, the pass stops and its operation fails.
#pragma once

#include <cstdint>

#include "platform/page_buffer.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"

namespace orvik::media {

enum class EraseResult {
  kErased,
  kInvalidated,  // could not be erased; zero-filled, bad from now on
  kFailed,       // neither erased nor invalidated: the pass stops
};

class BlockEraser {
 public:
  // operation names the pass in failure lines ("quick format").
  BlockEraser(const protocol::FlashTypeDescriptor& type, const protocol::FlashDrive& drive,
              const char* operation)
      : type_(type), drive_(drive), operation_(operation) {}

  EraseResult Erase(uint32_t block);
  // Zero-fills every page of an erased block with all-zero redundant
  // areas: the block reads as bad from now on.
  bool Invalidate(uint32_t block) { return ZeroFill(block); }

 private:
  bool ZeroFill(uint32_t block);

  const protocol::FlashTypeDescriptor& type_;
  protocol::FlashDrive drive_;
  const char* operation_;
  os::PageBuffer zeros_;  // taken at the first invalidation
};

}  // namespace orvik::media
