// A scratch copy of a player's flash, read raw through the library's page
// reads, so that the inspection code the simulator's own flash uses (block
// map, system files, FAT volume) serves any player, real or simulated.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "player/flash_pages.h"
#include "sim/player.h"

namespace orvik::tool {

// Called after each block copied (block index, blocks in all); may throw to
// stop.
using CopyProgress = std::function<void(uint32_t, uint32_t)>;

// Every page of blocks [0, endBlock).  Throws ToolError when a read fails.
std::shared_ptr<sim::Player> CopyBlocks(FlashPages& pages, uint32_t endBlock,
                                        const CopyProgress& progress = {});

// Every page of the listed blocks (the others stay erased in the copy).
// Throws ToolError when a read fails.
std::shared_ptr<sim::Player> CopyListedBlocks(FlashPages& pages,
                                              const std::vector<uint32_t>& blocks,
                                              const CopyProgress& progress = {});

// What the FAT volume needs, in every zone: pages 0 and 1 of every block,
// and every page of the good blocks that page 0 shows written (the CIS
// block and the blocks that carry logical blocks); bad and system blocks
// hold nothing a reader maps, and an erased page 0 marks a free block.
std::shared_ptr<sim::Player> CopyVolumeBlocks(FlashPages& pages, const CopyProgress& progress = {});

// What a block map needs: pages 0 and 1 of every block, and every page of
// the system blocks (status bytes 0 and the "QV" mark on page 0).
std::shared_ptr<sim::Player> CopyForBlockMap(FlashPages& pages, const CopyProgress& progress = {});

}  // namespace orvik::tool
