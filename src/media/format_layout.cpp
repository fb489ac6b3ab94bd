// The per-type layout table, the partition size and the sector builders.
#include "media/format_layout.h"

#include <algorithm>
#include <limits>

#include "protocol/byte_order.h"

namespace orvik::media {
namespace {

using protocol::PutLittleEndian16;
using protocol::PutLittleEndian32;

constexpr uint64_t kMaxFat12Clusters = 4084;  // one more is read as FAT16
constexpr uint64_t kMinFat16Clusters = 4085;
constexpr uint64_t kMaxFat16Clusters = 65524;

void ClearSector(uint8_t* sector) { std::fill(sector, sector + kSectorBytes, uint8_t{0}); }

void PutSignature(uint8_t* sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

// The largest partition whose data area the fixed FAT can address:
// entries - 2 clusters (entries 0 and 1 are reserved).
uint64_t FatAddressableSectors(const FormatLayout& layout) {
  return layout.SystemSectors() + uint64_t{FatEntryCapacity(layout) - 2} * layout.sectorsPerCluster;
}

bool VolumeIsSound(const FormatLayout& layout, uint64_t partitionSectors) {
  if (partitionSectors > std::numeric_limits<uint32_t>::max()) return false;
  // The quick format writes sectors 0..lastFormatSector: all inside the volume.
  if (layout.bootSector + partitionSectors < uint64_t{layout.lastFormatSector} + 1) return false;
  const uint64_t clusters = DataClusters(layout, partitionSectors);
  if (clusters == 0 || clusters > FatEntryCapacity(layout) - 2) return false;
  if (layout.fat == FatKind::kFat12) return clusters <= kMaxFat12Clusters;
  return clusters >= kMinFat16Clusters && clusters <= kMaxFat16Clusters;
}

constexpr FatKind kFat12 = FatKind::kFat12;
constexpr FatKind kFat16 = FatKind::kFat16;
constexpr TotalSizeField kSize16 = TotalSizeField::k16Bit;
constexpr TotalSizeField kSize32 = TotalSizeField::k32Bit;

}  // namespace

// Columns: bootSector, fat1Sector, fat2Sector, lastFormatSector,
// sectors per cluster, sectors per FAT, sectors per track, heads, FAT,
// start head, start sector byte, end head, end sector byte, end cylinder byte,
// partition type, fixedTotalSectors, size field of the boot sector.
// For types 3..35 fixedTotalSectors + bootSector is the logical capacity
// rounded down to whole cylinders, except type 21 (575967, unrounded), which
// is kept as volumes of that type have always been written.
const FormatLayout kFormatLayouts[kFormatLayoutCount] = {
    // clang-format off
    {13, 14, 15, 31, 8, 1, 4, 4, kFat12, 3, 0x02, 3, 0x04, 0x7C, 0x01, 1987, kSize16},  // 0
    {11, 12, 14, 31, 8, 2, 8, 4, kFat12, 1, 0x04, 3, 0x08, 0x7C, 0x01, 3989, kSize16},  // 1
    {27, 28, 30, 47, 16, 2, 8, 4, kFat12, 3, 0x04, 3, 0x08, 0xF9, 0x01, 7973, kSize16},  // 2
    {25, 26, 29, 63, 16, 3, 16, 4, kFat12, 1, 0x0A, 3, 0x10, 0xF9, 0x01, 15975, kSize16},  // 3
    {41, 42, 45, 95, 32, 3, 16, 4, kFat12, 2, 0x0A, 3, 0x50, 0xF3, 0x01, 31959, kSize16},  // 4
    {35, 36, 42, 95, 32, 6, 16, 8, kFat12, 2, 0x04, 7, 0x50, 0xF3, 0x01, 63965, kSize16},  // 5
    {61, 62, 71, 127, 32, 9, 16, 8, kFat12, 3, 0x0E, 7, 0x90, 0xED, 0x01, 95939, kSize32},  // 6
    {55, 56, 68, 127, 32, 12, 32, 8, kFat12, 1, 0x18, 7, 0x60, 0xF3, 0x01, 127945, kSize32},  // 7
    {39, 40, 60, 127, 32, 20, 32, 8, kFat16, 1, 0x08, 7, 0xA0, 0x70, 0x06, 159961, kSize32},  // 8
    {63, 64, 88, 160, 32, 24, 32, 8, kFat16, 2, 0x00, 7, 0xA0, 0xED, 0x06, 191937, kSize32},  // 9
    {55, 56, 84, 160, 32, 28, 32, 8, kFat16, 1, 0x18, 7, 0xE0, 0x6A, 0x06, 223945, kSize32},  // 10
    {47, 48, 80, 127, 32, 32, 32, 16, kFat16, 1, 0x10, 15, 0x60, 0xF3, 0x06, 255953, kSize32},  // 11
    {39, 40, 76, 160, 32, 36, 16, 16, kFat16, 2, 0x08, 15, 0xA0, 0x31, 0x06, 287961, kSize32},  // 12
    {63, 64, 104, 192, 32, 40, 32, 16, kFat16, 2, 0x00, 15, 0xA0, 0x70, 0x06, 319937, kSize32},  // 13
    {57, 58, 101, 192, 32, 43, 32, 16, kFat16, 1, 0x1A, 15, 0xA0, 0xAE, 0x06, 351687, kSize32},  // 14
    {49, 50, 97, 192, 32, 47, 32, 16, kFat16, 1, 0x12, 15, 0xA0, 0xED, 0x06, 383951, kSize32},  // 15
    {41, 42, 93, 192, 32, 51, 32, 16, kFat16, 1, 0x0A, 15, 0xE0, 0x2B, 0x06, 415703, kSize32},  // 16
    {33, 34, 89, 192, 32, 55, 32, 16, kFat16, 1, 0x02, 15, 0xE0, 0x6A, 0x06, 447967, kSize32},  // 17
    {57, 58, 117, 224, 32, 59, 32, 16, kFat16, 1, 0x1A, 15, 0xE0, 0xA8, 0x06, 479687, kSize32},  // 18
    {49, 50, 113, 224, 32, 63, 32, 16, kFat16, 1, 0x12, 15, 0xE0, 0xE7, 0x06, 511951, kSize32},  // 19
    {41, 42, 109, 224, 32, 67, 32, 16, kFat16, 1, 0x0A, 15, 0xE0, 0x25, 0x06, 543703, kSize32},  // 20
    {33, 34, 105, 224, 32, 71, 32, 32, kFat16, 1, 0x02, 31, 0xA0, 0x31, 0x06, 575967, kSize32},  // 21
    {57, 58, 133, 256, 32, 75, 32, 32, kFat16, 1, 0x1A, 31, 0xA0, 0x50, 0x06, 607175, kSize32},  // 22
    {49, 50, 129, 256, 32, 79, 32, 32, kFat16, 1, 0x12, 31, 0xA0, 0x70, 0x06, 639951, kSize32},  // 23
    {43, 44, 126, 256, 32, 82, 32, 32, kFat16, 1, 0x0C, 31, 0xA0, 0x8F, 0x06, 671701, kSize32},  // 24
    {35, 36, 122, 256, 32, 86, 32, 32, kFat16, 1, 0x04, 31, 0xA0, 0xAE, 0x06, 703453, kSize32},  // 25
    {59, 60, 150, 288, 32, 90, 32, 32, kFat16, 1, 0x1C, 31, 0xA0, 0xCD, 0x06, 735173, kSize32},  // 26
    {51, 52, 146, 288, 32, 94, 32, 32, kFat16, 1, 0x14, 31, 0xA0, 0xED, 0x06, 767949, kSize32},  // 27
    {43, 44, 142, 288, 32, 98, 32, 32, kFat16, 1, 0x0C, 31, 0xE0, 0x0C, 0x06, 799701, kSize32},  // 28
    {35, 36, 138, 288, 32, 102, 32, 32, kFat16, 1, 0x04, 31, 0xE0, 0x2B, 0x06, 831453, kSize32},  // 29
    {59, 60, 166, 320, 32, 106, 32, 32, kFat16, 1, 0x1C, 31, 0xE0, 0x4A, 0x06, 863173, kSize32},  // 30
    {51, 52, 162, 320, 32, 110, 32, 32, kFat16, 1, 0x14, 31, 0xE0, 0x6A, 0x06, 895949, kSize32},  // 31
    {43, 44, 158, 320, 32, 114, 32, 32, kFat16, 1, 0x0C, 31, 0xE0, 0x89, 0x06, 927701, kSize32},  // 32
    {35, 36, 154, 320, 32, 118, 32, 32, kFat16, 1, 0x04, 31, 0xE0, 0xA8, 0x06, 959453, kSize32},  // 33
    {61, 62, 183, 352, 32, 121, 32, 32, kFat16, 1, 0x1E, 31, 0xE0, 0xC7, 0x06, 991171, kSize32},  // 34
    {53, 54, 179, 352, 32, 125, 32, 32, kFat16, 1, 0x16, 31, 0xE0, 0xE7, 0x06, 1023947, kSize32},  // 35
    // clang-format on
};

const FormatLayout* FormatLayoutFor(uint32_t flashType) {
  return flashType < kFormatLayoutCount ? &kFormatLayouts[flashType] : nullptr;
}

uint64_t DataClusters(const FormatLayout& layout, uint64_t partitionSectors) {
  if (partitionSectors < layout.SystemSectors()) return 0;
  return (partitionSectors - layout.SystemSectors()) / layout.sectorsPerCluster;
}

uint32_t FatEntryCapacity(const FormatLayout& layout) {
  const uint32_t fatBits = layout.sectorsPerFat * kSectorBytes * 8;
  return fatBits / (layout.fat == FatKind::kFat12 ? 12 : 16);
}

uint64_t ReservedSectors(uint32_t pagesPerBlock, uint32_t reservedBlocks) {
  return uint64_t{pagesPerBlock} * reservedBlocks;
}

std::optional<uint32_t> PartitionSectors(uint32_t flashType, bool sizeFromRegistry,
                                         uint64_t reservedSectors, uint32_t logicalBlockCount,
                                         uint32_t systemBlockCount, uint32_t pagesPerBlock,
                                         uint32_t dataSize) {
  const FormatLayout* layout = FormatLayoutFor(flashType);
  if (layout == nullptr) return std::nullopt;

  uint64_t size;
  if (flashType <= 2) {
    // Fixed sizes that make 2000, 4000 and 8000 sectors with the hidden ones.
    size = layout->fixedTotalSectors;
  } else if (sizeFromRegistry) {
    if (reservedSectors > layout->fixedTotalSectors) return std::nullopt;
    size = layout->fixedTotalSectors - reservedSectors;
  } else {
    if (systemBlockCount > logicalBlockCount) return std::nullopt;
    const uint64_t sectors =
        uint64_t{logicalBlockCount - systemBlockCount} * (dataSize / kSectorBytes) * pagesPerBlock;
    if (sectors < layout->bootSector) return std::nullopt;
    size = sectors - layout->bootSector;
    // Not rounded to cylinders, so with few system blocks the largest types
    // would hold more clusters than their fixed FAT has entries for.
    if (DataClusters(*layout, size) > FatEntryCapacity(*layout) - 2) {
      size = FatAddressableSectors(*layout);
    }
  }
  if (!VolumeIsSound(*layout, size)) return std::nullopt;
  return static_cast<uint32_t>(size);
}

bool BuildMasterBootRecord(uint32_t flashType, uint32_t partitionSectors, uint8_t* sector) {
  const FormatLayout* layout = FormatLayoutFor(flashType);
  if (layout == nullptr) return false;
  ClearSector(sector);
  uint8_t* entry = sector + 446;
  entry[0] = 0x80;  // active
  entry[1] = layout->startHead;
  entry[2] = layout->startSectorByte;
  entry[3] = 0;  // start cylinder
  entry[4] = layout->partitionType;
  entry[5] = layout->endHead;
  entry[6] = layout->endSectorByte;
  entry[7] = layout->endCylinderByte;
  PutLittleEndian32(entry + 8, layout->bootSector);
  PutLittleEndian32(entry + 12, partitionSectors);
  PutSignature(sector);
  return true;
}

bool BuildBootSector(uint32_t flashType, uint32_t partitionSectors, uint8_t* sector) {
  const FormatLayout* layout = FormatLayoutFor(flashType);
  if (layout == nullptr) return false;
  ClearSector(sector);
  sector[0] = 0xE9;
  std::fill(sector + 3, sector + 11, uint8_t{' '});  // OEM name
  PutLittleEndian16(sector + 11, kSectorBytes);
  sector[13] = static_cast<uint8_t>(layout->sectorsPerCluster);
  PutLittleEndian16(sector + 14, kReservedSectors);
  sector[16] = kFatCount;
  PutLittleEndian16(sector + 17, kRootDirectorySectors * kSectorBytes / 32);
  // A size the 16-bit field cannot hold goes to the 32-bit one, never
  // truncated (no size that PartitionSectors gives for types 0..5 does).
  if (layout->totalSizeField == TotalSizeField::k16Bit && partitionSectors <= 0xFFFF) {
    PutLittleEndian16(sector + 19, partitionSectors);
  } else {
    PutLittleEndian32(sector + 32, partitionSectors);
  }
  sector[21] = 0xF8;  // fixed disk
  PutLittleEndian16(sector + 22, layout->sectorsPerFat);
  PutLittleEndian16(sector + 24, layout->sectorsPerTrack);
  PutLittleEndian16(sector + 26, layout->heads);
  PutLittleEndian32(sector + 28, layout->bootSector);  // hidden sectors
  const char* fsType = layout->fat == FatKind::kFat12 ? "FAT12   " : "FAT16   ";
  std::copy(fsType, fsType + 8, sector + 54);
  PutSignature(sector);
  return true;
}

bool BuildFatStart(uint32_t flashType, uint8_t* sector) {
  const FormatLayout* layout = FormatLayoutFor(flashType);
  if (layout == nullptr) return false;
  ClearSector(sector);
  // Entry 0 holds the media descriptor, entry 1 the end-of-chain mark.
  sector[0] = 0xF8;
  sector[1] = 0xFF;
  sector[2] = 0xFF;
  sector[3] = layout->fat == FatKind::kFat12 ? 0x00 : 0xFF;
  return true;
}

FormatSectorKind FormatSectorKindAt(const FormatLayout& layout, uint32_t sector) {
  if (sector == 0) return FormatSectorKind::kMasterBootRecord;
  if (sector == layout.bootSector) return FormatSectorKind::kBootSector;
  if (sector == layout.fat1Sector || sector == layout.fat2Sector)
    return FormatSectorKind::kFatStart;
  return FormatSectorKind::kZero;
}

bool BuildFormatSector(uint32_t flashType, uint32_t partitionSectors, uint32_t sector,
                       uint8_t* out) {
  const FormatLayout* layout = FormatLayoutFor(flashType);
  if (layout == nullptr) return false;
  switch (FormatSectorKindAt(*layout, sector)) {
    case FormatSectorKind::kMasterBootRecord:
      return BuildMasterBootRecord(flashType, partitionSectors, out);
    case FormatSectorKind::kBootSector:
      return BuildBootSector(flashType, partitionSectors, out);
    case FormatSectorKind::kFatStart:
      return BuildFatStart(flashType, out);
    case FormatSectorKind::kZero:
      break;
  }
  ClearSector(out);
  return true;
}

}  // namespace orvik::media
