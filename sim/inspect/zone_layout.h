// How the volume's logical blocks lie on the flash, as the player's
// firmware and a SmartMedia reader lay them out.
//
// The physical blocks form zones of 256 (flash types 0 and 1), 512 (type 2)
// or 1024 blocks (types 3 to 35); the last zone of a flash whose block count
// is not a whole number of zones is shorter.  Each zone holds at most 1000
// logical blocks; the block-address field of a written block carries its
// number within its zone (0 to 999).  Logical block L of the volume
// therefore lives in zone L / 1000 as number L % 1000, in any good block of
// that zone that the CIS block and the system area leave free.  The quick
// format writes zone 0 only; a volume larger than 1000 logical blocks (64 MB
// and more) fills the other zones as files are written.
#pragma once

#include <cstdint>

namespace orvik::sim::inspect {

inline constexpr uint32_t kLogicalBlocksPerZone = 1000;

struct ZoneLayout {
  uint32_t zoneBlocks = 1024;  // physical blocks per zone
  uint32_t blockCount = 0;     // physical blocks of the flash

  static ZoneLayout ForFlashType(uint32_t flashType, uint32_t blockCount);

  uint32_t ZoneCount() const { return (blockCount + zoneBlocks - 1) / zoneBlocks; }
  uint32_t ZoneOfBlock(uint32_t block) const { return block / zoneBlocks; }
  uint32_t FirstBlock(uint32_t zone) const { return zone * zoneBlocks; }
  // One past the zone's last block (never past the flash's end).
  uint32_t EndBlock(uint32_t zone) const {
    const uint64_t end = uint64_t{zone + 1} * zoneBlocks;
    return end < blockCount ? static_cast<uint32_t>(end) : blockCount;
  }

  static uint32_t ZoneOfLogical(uint32_t logicalBlock) {
    return logicalBlock / kLogicalBlocksPerZone;
  }
  // The number the block-address field carries for a logical block.
  static uint32_t ZoneRelative(uint32_t logicalBlock) {
    return logicalBlock % kLogicalBlocksPerZone;
  }
  static uint32_t VolumeLogical(uint32_t zone, uint32_t zoneRelative) {
    return zone * kLogicalBlocksPerZone + zoneRelative;
  }
};

}  // namespace orvik::sim::inspect
