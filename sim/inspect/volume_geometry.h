// The FAT volume's geometry as its own first sectors give it: the first
// partition of the master boot record (logical sector 0) and the fields of
// the partition's boot sector that fix where everything lies.  A volume
// image (the partition alone) fits a player's volume only when it has the
// same size and the same fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/inspect/image_convention.h"

namespace orvik::sim::inspect {

class LogicalVolume;

// The boot-sector fields that lay the volume out (offsets of the FAT boot
// sector; totalSectors from the 16-bit field, else the 32-bit one).
struct BootSectorFields {
  bool signature = false;  // 55 AA at bytes 510-511
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatCount = 0;
  uint32_t rootEntries = 0;
  uint32_t totalSectors = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t hiddenSectors = 0;

  // Holds the fields of a FAT12/FAT16 boot sector at all (a file that is no
  // FAT volume image fails here).
  bool LooksLikeFat() const;
};

BootSectorFields ReadBootSectorFields(const uint8_t* sector);

struct VolumeGeometry {
  uint32_t partitionStart = 0;    // first logical sector of the partition
  uint32_t partitionSectors = 0;  // its size
  uint8_t partitionType = 0;      // 0x01 FAT12, 0x06 FAT16
  BootSectorFields boot;          // of sector partitionStart

  uint64_t ImageBytes() const { return uint64_t{partitionSectors} * kSectorBytes; }
  // One past the partition's last logical sector.
  uint64_t EndSector() const { return uint64_t{partitionStart} + partitionSectors; }
};

// Reads sector 0 and the partition's boot sector through the volume.
// nullopt with *error saying what is missing when sector 0 was never
// written, lacks the 55 AA signature or holds no first partition.
std::optional<VolumeGeometry> ReadVolumeGeometry(LogicalVolume& volume, std::string* error);

// Where an image's boot sector does not fit the volume's, one line each
// ("sectors per cluster: the image has 4, the player's volume 32"); empty
// when it fits.
std::vector<std::string> GeometryDifferences(const BootSectorFields& volume,
                                             const BootSectorFields& image);
// The same against a volume whose own boot sector is missing (a restore
// cut off before it wrote it back): only the partition it must fill is
// known, its size and start.
std::vector<std::string> GeometryDifferences(const VolumeGeometry& volume,
                                             const BootSectorFields& image);

}  // namespace orvik::sim::inspect
