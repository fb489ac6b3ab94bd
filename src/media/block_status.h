// The block status table: what every physical erase block of the flash is.
//
// The scan reads a short mark record of every block, finds the CIS block
// (the first usable block) and invalidates every block in front of it,
// classifies the rest, counts the system blocks at the top of the flash and
// finds where the reserved area begins.
#pragma once

#include <cstdint>

#include "orvik/orvik.h"
#include "protocol/flash_commands.h"
#include "protocol/progress_target.h"

namespace orvik::media {

inline constexpr uint8_t BLOCK_BAD = 0x00;
inline constexpr uint8_t BLOCK_FORMAT_USED = 0x01;
inline constexpr uint8_t BLOCK_CIS = 0x02;
inline constexpr uint8_t BLOCK_SYSTEM = 0x03;
inline constexpr uint8_t BLOCK_GOOD = 0xFF;

inline constexpr uint32_t kMarksPerRequest = 256;

// True when a block's first-page status bytes make it the CIS block: a good
// block-status byte and at most three zero bits in the data-status byte.
bool QualifiesAsCisBlock(uint8_t dataStatus, uint8_t blockStatus);

// Builds drive 0's table for flashType; the progress gets 100 / blocks per
// block when its phase is the scan's (ORVIK_PHASE_SCAN).  A type of 36 or more is recorded
// and nothing else happens.  false on any failure: another drive, an
// allocation, a marks read, an invalidation, or no block that qualifies as
// the CIS block (the flash is then left untouched).
//
// An erase request in front of the CIS block that fails as a transfer marks
// the block bad and fails the scan: a device that stops answering is not
// written to any further.
bool ScanBlockStatus(const protocol::FlashDrive& drive, uint32_t flashType,
                     const _BinaryFilesInformation& files, protocol::ProgressTarget& progress);

// Reads the marks of every block after the CIS block again and classifies
// them as the scan does, then counts the system blocks and finds the
// reserved area anew: the table is as a scan would leave it, without the
// scan's search for the CIS block and its writes in front of it.  For a
// table that something other than the scan has changed since.  false when
// the drive has no table or a marks read fails.
bool RereadBlockMarks(const protocol::FlashDrive& drive, const _BinaryFilesInformation& files);

}  // namespace orvik::media
