// The volume across zones: block-address fields and the reader's map of
// every zone.
#include "inspect_fixture.h"
#include "protocol/ecc.h"
#include "sim/inspect/data_page.h"

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

}  // namespace
}  // namespace orvik::testing
