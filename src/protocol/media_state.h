// The media state of the player's drives.
//
// Operations take a drive number, but the library keeps state for drive 0
// only (the internal flash); every other number has no state, and nothing
// may index the state with it.  The state itself is part of the library's
// context (api/library_context.h); the exports hand it down.
#pragma once

#include <cstdint>

#include "platform/page_buffer.h"
#include "protocol/flash_types.h"

namespace orvik::protocol {

inline constexpr int32_t MEDIA_KIND_FLASH = 1;
inline constexpr int32_t MEDIA_KIND_MMC = 2;

struct DriveMediaState {
  int32_t mediaKind = MEDIA_KIND_FLASH;
  uint8_t cardSlot = 0;                     // device-side drive number of the card
  uint32_t cardCapacity = 0;                // blocks, as last reported by the flash-size query
  uint32_t flashType = FLASH_TYPE_UNKNOWN;  // recorded by the block status scan
  os::PageBuffer blockStatus;               // blockCount entries, from the scan
  os::PageBuffer pageBuffer;                // one raw erase block, from the scan
  uint32_t cisBlock = 0;
  uint32_t systemBlockCount = 0;
  uint32_t firstReservedBlock = 0;
  // True while the table is as the last scan left it: anything else that
  // writes an entry (a version query's file markers, a programming call, a
  // format) clears it, and the firmware update then reads the marks again
  // rather than choose blocks from stale entries.
  bool tableFresh = false;
  // True when the last scan finished: a scan that failed part-way leaves
  // the entries it wrote so far, and its CIS block may be an earlier scan's.
  bool scanComplete = false;
};

// Releases the block status table and the page buffer (each only if held).
void ReleaseDriveBuffers(DriveMediaState& state);

// The descriptor of the flash type recorded by the last scan, or nullptr.
const FlashTypeDescriptor* RecordedFlashType(const DriveMediaState& state);

}  // namespace orvik::protocol
