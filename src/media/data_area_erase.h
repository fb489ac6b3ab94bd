// The data-area erase: every good block beyond the first zone is erased, so
// that no stale file data survives a quick format (which rewrites only the
// first zone).
#pragma once

#include <cstdint>

#include "protocol/flash_commands.h"
#include "protocol/media_state.h"
#include "protocol/progress_target.h"

namespace orvik::media {

// Erases the BLOCK_GOOD blocks from the first zone's end to the end of the
// flash, in increasing order, with the geometry of flashType.  Every other
// entry (bad, CIS, system, format-used, firmware markers) is left alone.  A
// block whose erase request fails or reports a non-zero status becomes
// BLOCK_BAD, "Bad Block: erase failed \n" goes to the debug output, and the
// block is invalidated on the flash (BlockEraser) so that none of its old
// pages survives claiming a logical block; the pass goes on.  It stops and
// returns false only when a block can be neither erased nor invalidated (or
// the device stopped answering).  The percentage is assigned 100 x block /
// blockCount after each block (0.0 at the start; 100.0 at once when the
// flash is one zone).
//
// The caller guarantees the drive's state with a block status table of
// flashType's size (a scan of that very type) and a valid type; see
// DataAreaEraseAllowed.
bool EraseDataArea(const protocol::FlashDrive& drive, uint32_t flashType,
                   protocol::ProgressTarget& percentDone);

// Whether the drive's state allows the erase for the caller's type: true
// when a block status table exists and the last scan recorded this type
// (the table has the scanned type's size; another type's geometry would
// walk past it and erase blocks the chip does not have).
bool DataAreaEraseAllowed(const protocol::DriveMediaState& state, uint32_t flashType);

}  // namespace orvik::media
