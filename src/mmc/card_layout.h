// The FAT volume that the card format lays onto an MMC card.
//
// One partition fills the card from block 1 to its end: block 0 holds the
// master boot record, block 1 the boot sector, then two FATs of S blocks
// each, a root directory of 16 blocks (256 entries) and the data area in
// clusters of 32 blocks.  Everything follows from the card's capacity.  The
// plan below says which block gets which content; the card format writes it
// block by block.
#pragma once

#include <cstdint>
#include <optional>

namespace orvik::mmc {

enum class CardFatKind : uint8_t { kFat12 = 12, kFat16 = 16 };

inline constexpr uint32_t kCardBlockBytes = 512;
inline constexpr uint32_t kCardSectorsPerCluster = 32;
inline constexpr uint32_t kCardRootDirectoryBlocks = 16;
// Master boot record, boot sector, two 1-block FATs, the root directory and
// one cluster.
inline constexpr uint32_t kCardMinimumBlocks = 52;

struct CardLayout {
  uint32_t capacityBlocks;
  uint32_t partitionBlocks;  // N = capacity - 1: blocks 1 to the end of the card
  CardFatKind fat;
  uint32_t sectorsPerFat;  // S
  uint32_t dataClusters;   // whole clusters of the data area

  uint8_t PartitionType() const { return fat == CardFatKind::kFat12 ? 0x01 : 0x06; }
  uint32_t BootSectorBlock() const { return 1; }
  uint32_t Fat1Block() const { return 2; }
  uint32_t Fat2Block() const { return 2 + sectorsPerFat; }
  uint32_t RootDirectoryBlock() const { return 2 + 2 * sectorsPerFat; }
  // Cluster 2; the blocks before it are the ones the format writes.
  uint32_t FirstDataBlock() const { return RootDirectoryBlock() + kCardRootDirectoryBlocks; }
};

// The layout of a card, or nullopt when no valid FAT volume fits it: fewer
// than kCardMinimumBlocks blocks, more than 65,524 clusters, or the sizes
// (130,762 to 130,769 blocks) where FAT12 would need 4,085 clusters and
// FAT16's larger FATs leave only 4,084.
//
// The type is FAT16 for partitions above 131,072 blocks and wherever FAT12
// would have more than 4,084 clusters; FAT12 otherwise.  S is N / 32 clusters
// rounded up, at 1.5 (FAT12) or 2 (FAT16) bytes each, in blocks rounded up,
// raised where needed until the FAT holds an entry for every data cluster
// plus the two reserved entries.
std::optional<CardLayout> PlanCardLayout(uint32_t capacityBlocks);

// Block builders; each fills all 512 bytes.
void BuildCardMasterBootRecord(const CardLayout& layout, uint8_t* block);
void BuildCardBootSector(const CardLayout& layout, uint8_t* block);
// The first block of each FAT: F8 FF FF (FAT12) or F8 FF FF FF (FAT16).
void BuildCardFatHead(const CardLayout& layout, uint8_t* block);

enum class CardBlockContent { kMasterBootRecord, kBootSector, kFatHead, kZero };

// Fills a block with the given content.
void BuildCardBlock(const CardLayout& layout, CardBlockContent content, uint8_t* block);

// What a freshly formatted card holds in a block below FirstDataBlock().
CardBlockContent CardBlockContentAt(const CardLayout& layout, uint32_t block);

// The card format's writes, in order: the master boot record (block 0), the
// boot sector (block 1), zeros over both FATs (blocks 2 to 2S + 1), the FAT
// heads (blocks 2 and S + 2), zeros over the root directory (2S + 2 to
// 2S + 17).  2S + 20 writes in all.
struct CardWrite {
  uint32_t block;
  CardBlockContent content;
};
uint32_t CardFormatWriteCount(const CardLayout& layout);
CardWrite CardFormatWriteAt(const CardLayout& layout, uint32_t index);

}  // namespace orvik::mmc
