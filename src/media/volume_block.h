// Writing one logical block of the FAT volume into a physical block, as the
// quick format writes the volume's fixed part: every page with its ECC and
// the block-address field, each page read back.  The host uses it to put a
// whole volume image back onto the flash (a restore), choosing the blocks.
//
// The block is erased first (a block that reads erased may still hold a
// page a cut-off write left); a page that does not read back as written
// invalidates the whole block (erased, zero-filled with zero redundant
// areas: every later scan finds it bad), and the host writes the logical
// block again elsewhere.
#pragma once

#include <cstdint>

#include "protocol/flash_commands.h"
#include "protocol/flash_types.h"

namespace orvik::media {

enum class VolumeBlockResult {
  kWritten,      // every page written and read back the same
  kInvalidated,  // the block did not take the data (or could not be erased): it is bad now
  kFailed,       // a transfer failed: the device stopped answering or refused a command
};

// Writes sectorCount (1 to pagesPerBlock) sectors of 512 bytes from
// sectors into pages 0 onward of block, each page carrying logicalField in
// its block-address fields (zone-relative, 0 to 999).
VolumeBlockResult WriteVolumeBlock(const protocol::FlashDrive& drive,
                                   const protocol::FlashTypeDescriptor& type, uint32_t block,
                                   uint16_t logicalField, const uint8_t* sectors,
                                   uint32_t sectorCount);

}  // namespace orvik::media
