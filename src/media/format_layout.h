// The FAT volume that the quick format lays onto the internal flash, per
// flash type.
//
// Sector 0 holds a master boot record with one partition; the partition
// starts at bootSector (the sectors in between are hidden and zero) with the
// boot sector, one reserved sector in all, then two FATs, a root directory of
// 256 entries (16 sectors) and the data area.  The geometry of every type is
// fixed by kFormatLayouts; only the partition size depends on the registry
// reservation or on the system blocks found by the block status scan.
#pragma once

#include <cstdint>
#include <optional>

namespace orvik::media {

enum class FatKind : uint8_t { kFat12 = 12, kFat16 = 16 };

// Which boot-sector field carries the partition size: the 16-bit one at
// offset 19 or the 32-bit one at offset 32.
enum class TotalSizeField : uint8_t { k16Bit, k32Bit };

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kRootDirectorySectors = 16;  // 256 entries of 32 bytes
inline constexpr uint32_t kReservedSectors = 1;        // the boot sector
inline constexpr uint32_t kFatCount = 2;

struct FormatLayout {
  uint32_t bootSector;        // also the partition's first sector (hidden sectors)
  uint32_t fat1Sector;        // bootSector + 1
  uint32_t fat2Sector;        // fat1Sector + sectorsPerFat
  uint32_t lastFormatSector;  // last sector the quick format writes
  uint32_t sectorsPerCluster;
  uint32_t sectorsPerFat;
  uint32_t sectorsPerTrack;
  uint32_t heads;
  FatKind fat;
  // Partition entry of the master boot record (the start cylinder is 0).
  uint8_t startHead;
  uint8_t startSectorByte;
  uint8_t endHead;
  uint8_t endSectorByte;       // sector in bits 5-0, cylinder bits 9-8 in bits 7-6
  uint8_t endCylinderByte;     // cylinder bits 7-0
  uint8_t partitionType;       // 0x01 FAT12, 0x06 FAT16
  uint32_t fixedTotalSectors;  // partition size before any reservation
  TotalSizeField totalSizeField;

  uint32_t RootDirectorySector() const { return fat2Sector + sectorsPerFat; }
  uint32_t FirstDataSector() const { return RootDirectorySector() + kRootDirectorySectors; }
  // Sectors of the partition in front of the data area: boot sector, FATs, root.
  uint32_t SystemSectors() const {
    return kReservedSectors + kFatCount * sectorsPerFat + kRootDirectorySectors;
  }
};

inline constexpr uint32_t kFormatLayoutCount = 36;

// One row per flash type index 0..35.
extern const FormatLayout kFormatLayouts[kFormatLayoutCount];

// The row of a flash type, or nullptr for 36 and above.
const FormatLayout* FormatLayoutFor(uint32_t flashType);

// Whole data clusters in a partition of the given size (0 when the system
// sectors do not fit).
uint64_t DataClusters(const FormatLayout& layout, uint64_t partitionSectors);

// Entries that the fixed FAT can hold, the two reserved ones included:
// sectorsPerFat x 512 bytes of 12- or 16-bit entries.
uint32_t FatEntryCapacity(const FormatLayout& layout);

// The reservation in sectors: pagesPerBlock x reserved erase blocks (the
// registry reservation in blocks), in 64 bits so that it cannot wrap.
uint64_t ReservedSectors(uint32_t pagesPerBlock, uint32_t reservedBlocks);

// The partition size in sectors, or nullopt when no sound volume fits:
// - types 0..2: fixedTotalSectors, whatever else is passed;
// - sizeFromRegistry: fixedTotalSectors - reservedSectors;
// - otherwise: (logicalBlockCount - systemBlockCount) x (dataSize / 512) x
//   pagesPerBlock - bootSector, not rounded to cylinders, but capped so the
//   data area holds no more clusters than the fixed FAT has entries for.
// nullopt when a difference would go below 0, when the volume has no data
// cluster, when the sectors the quick format writes do not fit, when a FAT16
// type would have fewer than 4085 clusters (readers would take it for FAT12),
// or for an unknown type.  The format must then fail before writing anything.
std::optional<uint32_t> PartitionSectors(uint32_t flashType, bool sizeFromRegistry,
                                         uint64_t reservedSectors, uint32_t logicalBlockCount,
                                         uint32_t systemBlockCount, uint32_t pagesPerBlock,
                                         uint32_t dataSize);

// Sector builders: each fills a whole 512-byte sector and returns true, or
// returns false and leaves the sector alone for a flash type above 35.

// Sector 0: the partition entry from the table, first sector bootSector, the
// given size, and the 55 AA signature.
bool BuildMasterBootRecord(uint32_t flashType, uint32_t partitionSectors, uint8_t* sector);

// Sector bootSector: the boot sector without extended signature, serial
// number or volume label.
bool BuildBootSector(uint32_t flashType, uint32_t partitionSectors, uint8_t* sector);

// The first sector of each FAT: F8 FF FF 00 (FAT12) or F8 FF FF FF (FAT16).
bool BuildFatStart(uint32_t flashType, uint8_t* sector);

// What the quick format writes into logical sector e (0..lastFormatSector).
enum class FormatSectorKind { kMasterBootRecord, kBootSector, kFatStart, kZero };
FormatSectorKind FormatSectorKindAt(const FormatLayout& layout, uint32_t sector);

// Builds logical sector e of the volume as the quick format writes it.
bool BuildFormatSector(uint32_t flashType, uint32_t partitionSectors, uint32_t sector,
                       uint8_t* out);

}  // namespace orvik::media
