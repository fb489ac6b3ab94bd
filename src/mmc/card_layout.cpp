// The card's FAT layout and its boot records.
#include "mmc/card_layout.h"

#include <algorithm>

#include "protocol/byte_order.h"

namespace orvik::mmc {
namespace {

using protocol::PutLittleEndian16;
using protocol::PutLittleEndian32;

constexpr uint64_t kMaxFat12Clusters = 4084;
constexpr uint64_t kMinFat16Clusters = 4085;
constexpr uint64_t kMaxFat16Clusters = 65524;
constexpr uint64_t kFat16FromPartitionBlocks = 131072;  // above this, FAT16 whatever else

struct FatSizing {
  uint64_t sectorsPerFat;
  uint64_t dataClusters;
};

uint64_t FatEntries(CardFatKind fat, uint64_t sectorsPerFat) {
  const uint64_t bits = sectorsPerFat * kCardBlockBytes * 8;
  return bits / (fat == CardFatKind::kFat12 ? 12 : 16);
}

uint64_t DataClusters(uint64_t partitionBlocks, uint64_t sectorsPerFat) {
  const uint64_t systemBlocks = 1 + 2 * sectorsPerFat + kCardRootDirectoryBlocks;
  if (partitionBlocks < systemBlocks) return 0;
  return (partitionBlocks - systemBlocks) / kCardSectorsPerCluster;
}

// The classic rule counts N / 32 clusters over the whole partition and no
// reserved entries, which leaves some sizes (32,768 and 65,536 blocks) one
// FAT entry short; S then grows until every cluster has its entry.
FatSizing SizeFat(uint64_t partitionBlocks, CardFatKind fat) {
  const uint64_t ruleClusters =
      (partitionBlocks + kCardSectorsPerCluster - 1) / kCardSectorsPerCluster;
  uint64_t sectorsPerFat = fat == CardFatKind::kFat12
                               ? (ruleClusters * 3 + 1023) / 1024  // 1.5 bytes each
                               : (ruleClusters * 2 + 511) / 512;
  while (FatEntries(fat, sectorsPerFat) < DataClusters(partitionBlocks, sectorsPerFat) + 2) {
    ++sectorsPerFat;
  }
  return {sectorsPerFat, DataClusters(partitionBlocks, sectorsPerFat)};
}

void Clear(uint8_t* block) { std::fill(block, block + kCardBlockBytes, uint8_t{0}); }

void PutSignature(uint8_t* block) {
  block[0x1FE] = 0x55;
  block[0x1FF] = 0xAA;
}

}  // namespace

std::optional<CardLayout> PlanCardLayout(uint32_t capacityBlocks) {
  if (capacityBlocks < kCardMinimumBlocks) return std::nullopt;
  const uint64_t partitionBlocks = uint64_t{capacityBlocks} - 1;

  // Readers tell FAT12 from FAT16 by the cluster count alone, so the type
  // follows the clusters a FAT12 layout would have.
  CardFatKind fat = CardFatKind::kFat12;
  FatSizing sizing = SizeFat(partitionBlocks, CardFatKind::kFat12);
  if (partitionBlocks > kFat16FromPartitionBlocks || sizing.dataClusters > kMaxFat12Clusters) {
    fat = CardFatKind::kFat16;
    sizing = SizeFat(partitionBlocks, CardFatKind::kFat16);
    if (sizing.dataClusters < kMinFat16Clusters || sizing.dataClusters > kMaxFat16Clusters) {
      return std::nullopt;
    }
  }
  if (sizing.dataClusters == 0) return std::nullopt;
  return CardLayout{capacityBlocks, static_cast<uint32_t>(partitionBlocks), fat,
                    static_cast<uint32_t>(sizing.sectorsPerFat),
                    static_cast<uint32_t>(sizing.dataClusters)};
}

void BuildCardMasterBootRecord(const CardLayout& layout, uint8_t* block) {
  Clear(block);
  uint8_t* entry = block + 0x1BE;
  entry[0] = 0x80;  // active; no CHS addresses
  entry[4] = layout.PartitionType();
  PutLittleEndian32(entry + 8, layout.BootSectorBlock());
  PutLittleEndian32(entry + 12, layout.partitionBlocks);
  PutSignature(block);
}

void BuildCardBootSector(const CardLayout& layout, uint8_t* block) {
  Clear(block);
  block[0] = 0xEB;
  block[1] = 0x00;
  block[2] = 0x90;
  std::fill(block + 0x03, block + 0x0B, uint8_t{' '});  // OEM name
  PutLittleEndian16(block + 0x0B, kCardBlockBytes);
  block[0x0D] = kCardSectorsPerCluster;
  PutLittleEndian16(block + 0x0E, 1);  // reserved sectors: the boot sector
  block[0x10] = 2;                     // FATs
  PutLittleEndian16(block + 0x11, kCardRootDirectoryBlocks * kCardBlockBytes / 32);
  if (layout.partitionBlocks < 65536) {
    PutLittleEndian16(block + 0x13, layout.partitionBlocks);
  } else {
    PutLittleEndian32(block + 0x20, layout.partitionBlocks);
  }
  block[0x15] = 0xF8;  // fixed disk
  PutLittleEndian16(block + 0x16, layout.sectorsPerFat);
  PutLittleEndian16(block + 0x18, 1);                         // sectors per track
  PutLittleEndian16(block + 0x1A, 1);                         // heads
  PutLittleEndian32(block + 0x1C, layout.BootSectorBlock());  // hidden sectors
  block[0x26] = 0x29;  // extended boot signature; drive number and serial stay 0
  std::fill(block + 0x2B, block + 0x36, uint8_t{' '});  // volume label
  const char* fsType = layout.fat == CardFatKind::kFat12 ? "FAT12   " : "FAT16   ";
  std::copy(fsType, fsType + 8, block + 0x36);
  PutSignature(block);
}

void BuildCardFatHead(const CardLayout& layout, uint8_t* block) {
  Clear(block);
  // Entry 0 holds the media descriptor, entry 1 the end-of-chain mark.
  block[0] = 0xF8;
  block[1] = 0xFF;
  block[2] = 0xFF;
  if (layout.fat == CardFatKind::kFat16) block[3] = 0xFF;
}

void BuildCardBlock(const CardLayout& layout, CardBlockContent content, uint8_t* block) {
  switch (content) {
    case CardBlockContent::kMasterBootRecord:
      BuildCardMasterBootRecord(layout, block);
      return;
    case CardBlockContent::kBootSector:
      BuildCardBootSector(layout, block);
      return;
    case CardBlockContent::kFatHead:
      BuildCardFatHead(layout, block);
      return;
    case CardBlockContent::kZero:
      break;
  }
  Clear(block);
}

CardBlockContent CardBlockContentAt(const CardLayout& layout, uint32_t block) {
  if (block == 0) return CardBlockContent::kMasterBootRecord;
  if (block == layout.BootSectorBlock()) return CardBlockContent::kBootSector;
  if (block == layout.Fat1Block() || block == layout.Fat2Block()) {
    return CardBlockContent::kFatHead;
  }
  return CardBlockContent::kZero;
}

uint32_t CardFormatWriteCount(const CardLayout& layout) { return 2 * layout.sectorsPerFat + 20; }

CardWrite CardFormatWriteAt(const CardLayout& layout, uint32_t index) {
  const uint32_t fatBlocks = 2 * layout.sectorsPerFat;
  if (index == 0) return {0, CardBlockContent::kMasterBootRecord};
  if (index == 1) return {layout.BootSectorBlock(), CardBlockContent::kBootSector};
  if (index < 2 + fatBlocks) return {index, CardBlockContent::kZero};  // both FATs
  if (index == 2 + fatBlocks) return {layout.Fat1Block(), CardBlockContent::kFatHead};
  if (index == 3 + fatBlocks) return {layout.Fat2Block(), CardBlockContent::kFatHead};
  return {layout.RootDirectoryBlock() + (index - 4 - fatBlocks), CardBlockContent::kZero};
}

}  // namespace orvik::mmc
