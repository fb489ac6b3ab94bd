// The volume across zones: block-address fields, the reader's map of every
// zone, and an image stored into the flash block by block as the player's
// firmware stores it.
#include <algorithm>
#include <cstring>

#include "inspect_fixture.h"
#include "protocol/ecc.h"
#include "sim/inspect/data_page.h"
#include "sim/inspect/volume_import.h"

namespace orvik::testing {
namespace {

using namespace sim::inspect;

class ZonesTest : public InspectTest {
 protected:
  // Stores a block's page with data as the firmware would.
  void PutPage(uint32_t block, uint32_t page, uint32_t zoneRelative, uint8_t fill) {
    std::vector<uint8_t> data(512, fill);
    player_->ProgramPage(block * player_->PagesPerBlock() + page,
                         BuildDataPage(data.data(), zoneRelative));
  }

  // The partition as the reader gives it now.
  std::vector<uint8_t> Partition(const VolumeGeometry& geometry) {
    LogicalVolume volume(*player_);
    std::vector<uint8_t> image(geometry.ImageBytes());
    VolumeExport counts;
    ReadVolumeSectors(volume, geometry.partitionStart, geometry.partitionSectors, image.data(),
                      counts);
    return image;
  }

  VolumeImport Import(const VolumeGeometry& geometry, const std::vector<uint8_t>& image,
                      bool apply) {
    return ImportVolume(
        *player_, geometry,
        [&](uint32_t first, uint32_t count, uint8_t* out) {
          std::memcpy(out, image.data() + size_t{first} * 512, size_t{count} * 512);
        },
        apply);
  }
};

std::optional<uint32_t> Decode(uint16_t field) {
  return DecodeBlockAddress(static_cast<uint8_t>(field & 0xFF), static_cast<uint8_t>(field >> 8));
}

TEST_F(ZonesTest, EveryBlockNumberIsEncodedAsTheLibraryWritesItAndReadsBack) {
  for (uint32_t number = 0; number < 1024; ++number) {
    const uint16_t field = EncodeBlockAddress(number);
    EXPECT_EQ(field, protocol::EncodeBlockAddress(number)) << number;
    EXPECT_EQ(Decode(field), number);
    // Any one bit flipped is caught by the parity.
    for (uint32_t bit = 0; bit < 16; ++bit) {
      const uint16_t flipped = static_cast<uint16_t>(field ^ (1u << bit));
      EXPECT_NE(Decode(flipped), number) << number << " " << bit;
    }
  }
}

TEST_F(ZonesTest, TheReaderMapsTheLogicalBlocksOfEveryZone) {
  Format(7);
  PutPage(1024 + 10, 3, 5, 0x11);     // zone 1, number 5: logical block 1005
  PutPage(2048 + 3, 0, 5, 0x22);      // zone 2, number 5: logical block 2005
  PutPage(1024 + 20, 0, 5, 0x33);     // zone 1 again: the lower block keeps the number
  PutPage(1024 + 30, 0, 1010, 0x44);  // no number of a zone
  PutPage(1024 + 10, 0, 5, 0x11);

  const BlockMap map = MapBlocks(*player_);
  EXPECT_EQ(map.PhysicalBlockOf(1005), 1034u);
  EXPECT_EQ(map.PhysicalBlockOf(2005), 2051u);
  EXPECT_EQ(map.duplicates, std::vector<uint32_t>{1044});
  EXPECT_EQ(map.outOfRange, std::vector<uint32_t>{1054});
  EXPECT_EQ(map.PhysicalBlockOf(5), std::nullopt);  // zone 0's number 5 is another block
  EXPECT_EQ(map.FreeBlocks(1).size(), 1024u - 3);

  LogicalVolume volume(*player_);
  uint8_t sector[512];
  ASSERT_TRUE(volume.ReadSector(1005 * 32 + 3, sector));
  EXPECT_EQ(sector[0], 0x11);
  ASSERT_TRUE(volume.ReadSector(2005 * 32, sector));
  EXPECT_EQ(sector[511], 0x22);
  EXPECT_FALSE(volume.ReadSector(1005 * 32 + 4, sector));  // an erased page of the block
  EXPECT_EQ(sector[0], kUnwrittenByte);
}

TEST_F(ZonesTest, AnImportMovesChangedBlocksWithinTheirZoneAndErasesWhatItLeaves) {
  Format(5);  // 2048 blocks: zones 0 and 1
  LogicalVolume before(*player_);
  std::string why;
  const std::optional<VolumeGeometry> geometry = ReadVolumeGeometry(before, &why);
  ASSERT_TRUE(geometry) << why;
  const uint32_t oldHome = *before.Map().PhysicalBlockOf(2);
  std::vector<uint8_t> image = Partition(*geometry);
  auto sectorOf = [&](uint32_t logicalSector) {
    return image.begin() + (logicalSector - geometry->partitionStart) * 512;
  };
  std::fill_n(sectorOf(2 * 32 + 6), 512, uint8_t{0x5A});     // zone 0, a block the format wrote
  std::fill_n(sectorOf(1200 * 32 + 4), 512, uint8_t{0xA5});  // zone 1, a block never written

  const VolumeImport planned = Import(*geometry, image, false);
  EXPECT_EQ(planned.blocksWritten, 2u);
  EXPECT_EQ(MapBlocks(*player_).PhysicalBlockOf(1200), std::nullopt) << "a plan wrote";

  const VolumeImport done = Import(*geometry, image, true);
  ASSERT_TRUE(done.ok) << done.error;
  EXPECT_EQ(done.blocksWritten, 2u);
  EXPECT_EQ(done.pagesWritten, 32u + 2u);  // the whole FAT block; page 0 and 4 of the new one
  const BlockMap map = MapBlocks(*player_);
  EXPECT_NE(map.PhysicalBlockOf(2), oldHome);
  EXPECT_TRUE(player_->IsBlockErased(oldHome));
  const uint32_t home = *map.PhysicalBlockOf(1200);
  EXPECT_EQ(map.blocks[home].zone, 1u);
  EXPECT_FALSE(PageIsErased(player_->ReadPage(home * 32).data()));
  EXPECT_TRUE(PageIsErased(player_->ReadPage(home * 32 + 1).data()));
  EXPECT_EQ(Partition(*geometry), image);

  // The block back to all 0xFF: unmapped, its block erased.
  std::fill_n(sectorOf(1200 * 32 + 4), 512, kUnwrittenByte);
  EXPECT_EQ(Import(*geometry, image, true).blocksCleared, 1u);
  EXPECT_EQ(MapBlocks(*player_).PhysicalBlockOf(1200), std::nullopt);
  EXPECT_TRUE(player_->IsBlockErased(home));
}

}  // namespace
}  // namespace orvik::testing
