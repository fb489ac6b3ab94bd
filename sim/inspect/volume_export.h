// The logical FAT volume of a simulated flash, rebuilt the way a SmartMedia
// reader maps logical blocks, and its export as a plain image file that
// standard FAT tools read.
//
// Logical sector s lies in page s mod pagesPerBlock of logical block
// s / pagesPerBlock, which lives in zone (logical block / 1000) as the
// physical block of that zone whose page 0 carries the zone-relative number
// in a valid block-address field (parity checked, the first valid of the
// two copies), skipping the CIS block, bad blocks and system blocks (see
// block_map.h and zone_layout.h).  Every page read is ECC-checked; a single
// wrong data bit is corrected, as a reader would, and reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "sim/inspect/image_convention.h"
#include "sim/inspect/volume_geometry.h"
#include "sim/player.h"

namespace orvik::sim::inspect {

// What a sector that no written page holds reads as.  kOnes is the image
// convention (image_convention.h), and what every command of the tool
// uses; kZeros lets a scratch image file keep holes, for checks that only
// need the standard tools to read the volume.
enum class ErasedFill : uint8_t { kOnes = kUnwrittenByte, kZeros = 0x00 };

class LogicalVolume {
 public:
  explicit LogicalVolume(const Player& player, ErasedFill fill = ErasedFill::kOnes);

  const BlockMap& Map() const { return map_; }
  uint32_t PagesPerBlock() const { return map_.pagesPerBlock; }
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

// Reads count partition sectors from sector first (logical sector numbers)
// into out, counting into result those read from written pages and those
// filled.
void ReadVolumeSectors(LogicalVolume& volume, uint64_t first, uint32_t count, uint8_t* out,
                       VolumeExport& result);

// Reads the master boot record (logical sector 0) and writes its first
// partition, partitionSectors sectors from its start sector, to imagePath.
// Fails (ok false, nothing promised about the file) when sector 0 was never
// written, lacks the 55 AA signature or holds no partition, or when the file
// cannot be written.  (The tool writes its images through its own safe
// writer with the same reader: tools/player/volume_image.h.)
VolumeExport ExportVolume(const Player& player, const std::string& imagePath,
                          const VolumeExportOptions& options = {});

}  // namespace orvik::sim::inspect
