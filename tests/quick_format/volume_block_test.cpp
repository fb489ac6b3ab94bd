// Writing one logical block of the volume for a restore: the pages as the
// quick format writes them (data, both block-address fields, both ECCs),
// in any zone; a block that does not take the data ends bad, a device that
// stops answering fails the write.
#include "host/host_internals.h"
#include "quick_format/quick_format_fixture.h"

namespace orvik::testing {
namespace {

class VolumeBlockTest : public QuickFormatTest {
 protected:
  std::vector<uint8_t> Sectors(uint32_t count, uint8_t seed) {
    std::vector<uint8_t> data(size_t{count} * 512);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + seed);
    return data;
  }
};

TEST_F(VolumeBlockTest, EveryPageCarriesItsDataFieldAndEccInAnyZone) {
  StartScanned(7);  // four zones of 1024 blocks
  struct Case {
    uint32_t block;
    uint16_t field;
    uint32_t sectors;
  };
  for (const Case& c : {Case{40, 0, 32}, Case{1500, 999, 32}, Case{3000, 17, 3}}) {
    SCOPED_TRACE("block " + std::to_string(c.block));
    // A page a cut-off write left behind does not survive: the block is
    // erased first.
    sim::RawPage stale{};
    player_->SetPageRaw(c.block * 32 + 20, stale);
    const std::vector<uint8_t> data = Sectors(c.sectors, static_cast<uint8_t>(c.block));
    ASSERT_EQ(host::WriteVolumeBlock(c.block, c.field, data.data(), c.sectors),
              host::VolumeBlockResult::kWritten);
    for (uint32_t page = 0; page < c.sectors; ++page)
      ExpectDataPage(c.block, page, data.data() + page * 512, AddressField(c.field));
    for (uint32_t page = c.sectors; page < 32; ++page)
      EXPECT_EQ(Page(c.block, page), ErasedPage()) << "page " << page;
  }
}

TEST_F(VolumeBlockTest, ABlockThatDoesNotTakeTheDataEndsBadAndADeviceThatStopsFails) {
  sim::PlayerConfig config;
  config.flashType = 7;
  config.faults.weakPages[60 * 32 + 5] = 0;  // block 60 forgets page 5
  StartScanned(config);
  const std::vector<uint8_t> data = Sectors(32, 1);
  EXPECT_EQ(host::WriteVolumeBlock(60, 3, data.data(), 32), host::VolumeBlockResult::kInvalidated);
  EXPECT_EQ(Page(60, 0)[512 + 5], 0x00) << "block 60 does not read as bad";
  EXPECT_EQ(Page(60, 1), sim::RawPage{}) << "block 60 was not zero-filled";

  EXPECT_EQ(host::EraseVolumeBlock(61), host::EraseResult::kErased);
  player_->AddTransferFault({3, sim::TransferFault::Kind::kDisconnect});
  EXPECT_EQ(host::WriteVolumeBlock(61, 4, data.data(), 32), host::VolumeBlockResult::kFailed);
}

}  // namespace
}  // namespace orvik::testing
