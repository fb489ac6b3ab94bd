// Whether a FAT volume (the flash's, read through the logical block map, or
// the card's) is there and consistent, as a person would want it judged
// before trusting their files to it: the partition table, the boot sector,
// both FATs equal, the root directory and every folder readable, and every
// cluster a file or folder uses held by written flash.
//
// The reader answers one 512-byte sector at a time and says whether it came
// from written storage; a sector the fixed part of the volume needs (boot
// sector, FATs, root directory) or a cluster in use that reads as never
// written makes the volume damaged: that is what a format or a restore cut
// off part-way leaves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orvik::tool {

// Reads logical sector `sector` (512 bytes) into out; true when it came
// from written storage, false when it was never written (out then holds the
// reader's fill).  May throw to stop (the player stopped answering).
using SectorReader = std::function<bool(uint64_t sector, uint8_t* out)>;

struct FatVolumeHealth {
  enum class Kind {
    kAbsent,      // no partition table or no FAT boot sector where it points
    kConsistent,  // every check passed
    kDamaged,     // something is there but cannot be trusted
  };
  Kind kind = Kind::kAbsent;
  std::string why;  // absent or damaged: what is wrong, in words
  uint32_t partitionStart = 0;
  uint32_t partitionSectors = 0;
  int fatBits = 0;  // 12 or 16
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t fileBytes = 0;
};

const char* FatVolumeKindName(FatVolumeHealth::Kind kind);  // "absent", "consistent", "damaged"

// totalSectors: the storage's size in sectors (the partition must fit).
// dataMustBeWritten: every cluster in use must read as written (flash,
// where an unwritten page is told apart); a card's blocks always read as
// something, and reading all its files would take long, so there only the
// folders are read.
FatVolumeHealth CheckFatVolume(const SectorReader& read, uint64_t totalSectors,
                               bool dataMustBeWritten = true);

}  // namespace orvik::tool
