// The quick format of the internal flash: an empty FAT volume in the
// SmartMedia logical format, written into the first zone.
//
// The erase stage erases the good blocks of the first zone.  The format
// stage writes the card information page into the CIS block, then the
// logical sectors 0 to lastFormatSector of the volume (kFormatLayouts), each
// with its logical block number in the redundant area, reading every page
// back.  A page that does not read back as written moves its whole logical
// block to the next good block: the failed block is erased, zero-filled with
// zero redundant areas (every later scan finds it bad) and marked BLOCK_BAD.
//
// Every block either stage looks for lies in the first zone
// (protocol::FirstZoneBlocks): logical block numbers are zone-relative, so a
// logical block placed beyond it would never be found by a reader that maps
// zone 0, and a page that never verifies must not consume the good blocks of
// the whole flash.  When the first zone has no good block left, the format
// fails.
//
// An erase request that fails as a transfer (no status comes back) while a
// failed block is invalidated marks the block BLOCK_BAD and fails the
// format: a device that stops answering is not written to any further, as
// in the block status scan.
#pragma once

#include <cstdint>
#include <optional>

#include "orvik/orvik.h"
#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "protocol/progress_target.h"

namespace orvik::media {

// The first-zone blocks of a type, never more than the flash has.
uint32_t FirstZoneEnd(const protocol::FlashTypeDescriptor& type);

// The partition size the format stage will write for the drive's recorded
// type, or nullopt when there is no sound volume (PartitionSectors) or the
// drive has no scanned table and page buffer.  The registry reservation is
// read here, in whole erase blocks, and turned into sectors in 64 bits.
std::optional<uint32_t> PlannedPartitionSectors(const protocol::DriveMediaState& state,
                                                bool sizeFromRegistry);

// Erases every BLOCK_GOOD block of the first zone; one whose erase fails
// (request or status) is invalidated on the flash (BlockEraser) and becomes
// BLOCK_BAD.  Adds 100 / zone blocks to the progress per block.  False
// without a table or with a recorded type above 35 (nothing sent then), and
// when a block can be neither erased nor invalidated: an old volume block
// left in the zone would shadow the new volume.
bool EraseFirstZone(const protocol::FlashDrive& drive, protocol::ProgressTarget& progress);

// Writes the CIS page and the volume's fixed part; see the header comment.
// False on any failure (no table or page buffer, no sound partition size,
// an allocation, no good block left in the first zone, a failed transfer,
// an erase that reports a non-zero status while invalidating a block).
bool WriteLogicalFormat(const protocol::FlashDrive& drive, bool sizeFromRegistry,
                        protocol::ProgressTarget& progress);

// Both stages on the drive's medium (the flash, or the card in the drive's
// card slot), after a device-version request that must succeed, then the
// driver's format status 1; phases 8 and 7.  The caller has checked the
// drive's state (and, for the flash, PlannedPartitionSectors) under the
// global lock.
PROGRAM_MEDIA_STATUS QuickFormat(const protocol::FlashDrive& drive, bool sizeFromRegistry,
                                 protocol::ProgressTarget& progress);

}  // namespace orvik::media
