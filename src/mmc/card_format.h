// The card format: a fresh FAT volume on the MMC card, written block by
// block from the card's layout plan (mmc/card_layout.h).
#pragma once

#include <cstdint>

#include "protocol/progress_target.h"

namespace orvik::mmc {

// Writes the master boot record, the boot sector, both FATs (zeroed, then
// their heads) and the empty root directory, one 512-byte block at a time
// through a single page-granular buffer; the data area is left alone.
//
// A capacity for which no sound volume exists (see PlanCardLayout) is
// refused before anything is allocated: false, nothing written, progress
// untouched.  So is a failed allocation.  Once the buffer is held, the
// progress ends at exactly 100.0 on every path; the first failed write ends
// the sequence and the blocks already written stay written.
bool FormatCard(uint8_t drive, uint32_t capacityBlocks, protocol::ProgressTarget& progress);

}  // namespace orvik::mmc
