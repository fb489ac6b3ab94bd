// The logical FAT volume of a simulated flash, rebuilt the way a SmartMedia
// reader maps logical blocks, and its export as a plain image file that
// standard FAT tools read.
//
// Logical sector s lies in page s mod pagesPerBlock of logical block
// s / pagesPerBlock.  Logical blocks 0 to 999 live in zone 0: the physical
// block of zone 0 whose page 0 carries the block's number in a valid
// block-address field (parity checked, the first valid of the two copies),
// skipping the CIS block, bad blocks and system blocks (see block_map.h).
// The quick format writes only zone 0, so later zones are not mapped.  Every
// page read is ECC-checked; a single wrong data bit is corrected, as a reader
// would, and reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "sim/player.h"

namespace orvik::sim::inspect {

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kLogicalBlocksPerZone = 1000;

// What a sector that no written page holds reads as.  A reader sees an
// erased page as 0xFF; zeros let the image file keep holes.
enum class ErasedFill : uint8_t { kOnes = 0xFF, kZeros = 0x00 };

class LogicalVolume {
 public:
  explicit LogicalVolume(const Player& player, ErasedFill fill = ErasedFill::kOnes);

  const BlockMap& Map() const { return map_; }
  // Reads one logical sector into out (512 bytes).  True when it came from a
  // written page; false when it was filled (unmapped block or erased page).
  bool ReadSector(uint32_t sector, uint8_t* out);
  // ECC findings of the pages read so far.
  const std::vector<EccFinding>& EccFindings() const { return findings_; }

 private:
  const Player& player_;
  ErasedFill fill_;
  BlockMap map_;
  std::vector<EccFinding> findings_;
};

struct VolumeExportOptions {
  ErasedFill fill = ErasedFill::kOnes;
};

struct VolumeExport {
  bool ok = false;
  std::string error;                    // when !ok: what was wrong
  uint32_t partitionStart = 0;          // first sector, from the master boot record
  uint32_t partitionSectors = 0;        // its size, from the master boot record
  uint64_t sectorsFromFlash = 0;        // partition sectors read from written pages
  uint64_t sectorsFilled = 0;           // partition sectors that were filled
  std::vector<EccFinding> eccFindings;  // of the pages read for the export
  BlockMap map;
};

// Reads the master boot record (logical sector 0) and writes its first
// partition, partitionSectors sectors from its start sector, to imagePath.
// Fails (ok false, nothing promised about the file) when sector 0 was never
// written, lacks the 55 AA signature or holds no partition, or when the file
// cannot be written.
VolumeExport ExportVolume(const Player& player, const std::string& imagePath,
                          const VolumeExportOptions& options = {});

}  // namespace orvik::sim::inspect
