// Block I/O and erase on the card, and the two bulk erases.
#pragma once

#include <cstdint>

#include "protocol/progress_target.h"

namespace orvik::mmc {

// Blocks addressable with the frames' 32-bit byte addresses: 0 to 8,388,607.
inline constexpr uint64_t kAddressableBlocks = uint64_t{1} << 23;

// True when blocks first .. first + count - 1 all lie below the 4 GiB a
// 32-bit byte address reaches (count 0 is an empty run that always fits).
bool RunIsAddressable(uint64_t first, uint64_t count);

// Blocks at the start of the card that the file-system-area erase clears,
// by the card's size in MiB (computed in 64 bits).
uint32_t FileSystemAreaBlocks(uint32_t capacityBlocks);

bool ReadBlocks(uint8_t drive, uint32_t block, uint32_t count, bool multiple, uint8_t* data);
bool WriteBlocks(uint8_t drive, uint32_t block, uint32_t count, bool multiple, const uint8_t* data);
bool EraseBlocks(uint8_t drive, uint32_t block, uint32_t count, unsigned char* cardStatus);

// Erases the first n blocks group by group (the card's erase group), writes
// zeros to the blocks that do not fill a group, adds 1.0 to the progress
// now and then and stores 100.0 at the end, on every path.
bool EraseLeadingBlocks(uint8_t drive, uint32_t n, protocol::ProgressTarget& progress);
bool EraseFileSystemArea(uint8_t drive, uint32_t capacityBlocks,
                         protocol::ProgressTarget& progress);

}  // namespace orvik::mmc
