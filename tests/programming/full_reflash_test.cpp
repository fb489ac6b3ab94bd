// The full format with firmware files and the firmware update, checked on
// the simulated flash page by page.
#include <cstring>

#include "api/library_context.h"
#include "firmware/file_preparation.h"
#include "media/block_status.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

using media::BLOCK_BAD;
using media::BLOCK_GOOD;
using media::BLOCK_SYSTEM;

class FullReflashTest : public SimPlayerTest {
 protected:
  static constexpr uint32_t kType = 5;  // 2048 blocks of 32 pages
  static constexpr uint32_t kBlockBytes = 16384;
  static constexpr uint32_t kReserved = 64;  // blocks

  void SetUp() override {
    sim::PlayerConfig config;
    config.flashType = kType;
    config.factoryBadBlocks = {1, 2000};  // right after the CIS block, and in the reserved area
    StartPlayer(config);
    ReserveBlocks(kReserved, kBlockBytes);
    set_.Add('P', FILE_KIND_SREC, SRecordFile(36000, 1, {1, 2, 3, 4}), {0x01, 0x02, 0x03});
    set_.Add('R', FILE_KIND_RAW, RawFile(20000, 2, {5, 6, 7, 8}));
  }

  const protocol::DriveMediaState& Drive() { return *api::Context().DriveState(0); }

  // The files as the library prepares them (the S-record image, the raw
  // file packed 510 bytes to a page).
  void Prepare(FirmwareSet& set, firmware::PreparedFileSet& prepared) {
    ASSERT_EQ(
        firmware::PrepareFiles(protocol::kFlashTypes[kType],
                               {set.Data(), set.Lengths(), set.PrefixData(), set.PrefixLengths()},
                               set.Record(), prepared),
        firmware::PrepareStatus::kDone);
  }

  // Blocks of the reserved area in order, bad blocks left out.
  std::vector<uint32_t> ReservedBlocks() {
    std::vector<uint32_t> blocks;
    for (uint32_t block = Drive().firstReservedBlock; block < 2048; ++block)
      if (!IsFactoryBad(block)) blocks.push_back(block);
    return blocks;
  }
  static bool IsFactoryBad(uint32_t block) { return block == 1 || block == 2000; }

  static uint16_t SpareWord(const sim::RawPage& page) {
    return static_cast<uint16_t>(page[518] | page[519] << 8);
  }

  // Checks that the file's data lies in these blocks, page by page, with the
  // system marks; pages after the last written one stay erased.
  void ExpectFileInBlocks(const firmware::PreparedFile& file, const std::vector<uint32_t>& blocks,
                          char tag, const Versions* version) {
    uint64_t pages = (file.lengthToWrite + 511) / 512;
    uint64_t written = std::max<uint64_t>(pages, 2);
    ASSERT_GE(blocks.size() * 32, pages);
    for (uint64_t page = 0; page < blocks.size() * 32; ++page) {
      uint32_t block = blocks[page / 32];
      sim::RawPage raw = Page(block, static_cast<uint32_t>(page % 32));
      uint64_t blockPages = std::min<uint64_t>(32, written - (page / 32) * 32);
      bool lastBlock = page / 32 == (written - 1) / 32;
      uint64_t wantedPages = lastBlock ? std::max<uint64_t>(blockPages, 2) : 32;
      if (page % 32 >= wantedPages) {
        EXPECT_EQ(raw, sim::RawPage{[] {
                    sim::RawPage erased;
                    erased.fill(0xFF);
                    return erased;
                  }()})
            << "block " << block << " page " << page % 32;
        continue;
      }
      ASSERT_EQ(std::memcmp(raw.data(), file.buffer.data() + page * 512, 512), 0)
          << "block " << block << " page " << page % 32;
      EXPECT_EQ(raw[516], 0x00);
      EXPECT_EQ(raw[517], 0x00);
      uint32_t inBlock = static_cast<uint32_t>(page % 32);
      if (inBlock == 0) {
        EXPECT_EQ(SpareWord(raw), 0x5651);  // "QV"
      } else if (inBlock == 1) {
        EXPECT_EQ(raw[518], 'M');
        EXPECT_EQ(raw[519], static_cast<uint8_t>(tag));
      } else if (version != nullptr && page >= 2 && page <= 5) {
        const uint16_t words[4] = {version->a1, version->a2, version->b1, version->b2};
        EXPECT_EQ(SpareWord(raw), words[page - 2]) << page;
      } else {
        EXPECT_EQ(SpareWord(raw), 0xFFFF) << "block " << block << " page " << inBlock;
      }
    }
  }

  FirmwareSet set_;
};

TEST_F(FullReflashTest, FullFormatLaysOutTheSystemAreaAndWritesEveryFile) {
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(Drive().cisBlock, 0u);
  ASSERT_EQ(set_.FullFormat(kType, 1), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);

  firmware::PreparedFileSet prepared;
  Prepare(set_, prepared);
  uint64_t blocksP = (prepared[0].lengthToWrite + kBlockBytes - 1) / kBlockBytes;
  uint64_t blocksR = (prepared[1].lengthToWrite + kBlockBytes - 1) / kBlockBytes;
  ASSERT_EQ(blocksP, 3u);
  ASSERT_EQ(blocksR, 2u);

  // The first copy of file 0 fills the low system blocks after the bad one.
  ExpectFileInBlocks(prepared[0], {2, 3, 4}, 'P', nullptr);
  // The reserved area holds file 0 again, then file 1, bad blocks skipped.
  std::vector<uint32_t> reserved = ReservedBlocks();
  ASSERT_EQ(reserved.size(), kReserved);
  Versions versionP{1, 2, 3, 4}, versionR{5, 6, 7, 8};
  ExpectFileInBlocks(prepared[0], {reserved[0], reserved[1], reserved[2]}, 'P', &versionP);
  ExpectFileInBlocks(prepared[1], {reserved[3], reserved[4]}, 'R', &versionR);
  // The rest of the reserved area carries the marks of the 'P' file.
  for (size_t i = 5; i < reserved.size(); ++i) {
    sim::RawPage first = Page(reserved[i], 0);
    EXPECT_EQ(SpareWord(first), 0x5651);
    EXPECT_EQ(Page(reserved[i], 1)[519], 'P');
  }
  // The factory bad block in the reserved area was not touched.
  EXPECT_EQ(Page(2000, 0)[517], 0x00);
  EXPECT_EQ(Page(2000, 0)[0], 0xFF);
  EXPECT_EQ(Page(1, 0)[0], 0xFF);

  // A new scan counts exactly the reserved blocks as the system area, and
  // the stored versions are the files' versions.
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().systemBlockCount, kReserved);
  EXPECT_EQ(Drive().blockStatus[2], BLOCK_SYSTEM);
  EXPECT_EQ(Drive().blockStatus[1], BLOCK_BAD);
  EXPECT_EQ(Drive().blockStatus[5], BLOCK_GOOD);
  ASSERT_EQ(set_.FirmwareVersions(kType), PROGRAM_MEDIA_DONE);
  auto& files = set_.Record();
  EXPECT_EQ(files.deviceVersionA[0][0], 1);
  EXPECT_EQ(files.deviceVersionB[0][1], 4);
  EXPECT_EQ(files.deviceVersionA[1][1], 6);
  EXPECT_EQ(files.deviceVersionB[1][0], 7);
}

TEST_F(FullReflashTest, RawFilesArePackedFiveHundredTenBytesToAPage) {
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.FullFormat(kType, 1), PROGRAM_MEDIA_DONE);
  std::vector<uint32_t> reserved = ReservedBlocks();
  const Bytes& raw = set_.Content(1);
  for (size_t piece = 0; piece * 510 < raw.size(); ++piece) {
    sim::RawPage page = Page(reserved[3 + piece / 32], static_cast<uint32_t>(piece % 32));
    size_t length = std::min<size_t>(510, raw.size() - piece * 510);
    ASSERT_EQ(std::memcmp(page.data(), raw.data() + piece * 510, length), 0) << piece;
    for (size_t b = length; b < 512; ++b) ASSERT_EQ(page[b], 0) << piece;
  }
}

TEST_F(FullReflashTest, UpdateWritesNewFilesAndLeavesTheVolumeAlone) {
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.FullFormat(kType, 1), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  // Something in the data area, as a user's files would be.
  for (uint32_t block : {5u, 99u, 100u, 500u, Drive().firstReservedBlock - 1}) {
    sim::RawPage raw;
    raw.fill(0xFF);
    for (int i = 0; i < 512; ++i) raw[i] = static_cast<uint8_t>(block + i);
    player_->SetPageRaw(block * 32 + 3, raw);
  }
  std::vector<sim::RawPage> before;
  for (uint32_t page = 5 * 32; page < Drive().firstReservedBlock * 32; ++page)
    before.push_back(player_->ReadPage(page));

  FirmwareSet newer;
  newer.Add('P', FILE_KIND_SREC, SRecordFile(20000, 3, {9, 9, 9, 1}), {0x07, 0x08, 0x09});
  newer.Add('R', FILE_KIND_RAW, RawFile(40000, 4, {2, 0, 2, 6}));
  ASSERT_EQ(newer.Scan(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(newer.Program(kType), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(player_->Stats().protocolViolations, 0u);

  std::vector<sim::RawPage> after;
  for (uint32_t page = 5 * 32; page < Drive().firstReservedBlock * 32; ++page)
    after.push_back(player_->ReadPage(page));
  EXPECT_TRUE(before == after);

  firmware::PreparedFileSet prepared;
  Prepare(newer, prepared);
  std::vector<uint32_t> reserved = ReservedBlocks();
  Versions versionP{9, 9, 9, 1}, versionR{2, 0, 2, 6};
  ExpectFileInBlocks(prepared[0], {reserved[0], reserved[1]}, 'P', &versionP);
  ExpectFileInBlocks(prepared[1], {reserved[2], reserved[3], reserved[4]}, 'R', &versionR);
  // Blocks above the last file are erased and marked with the last file's tag.
  for (size_t i = 5; i < reserved.size(); ++i) {
    sim::RawPage first = Page(reserved[i], 0);
    EXPECT_EQ(SpareWord(first), 0x5651) << reserved[i];
    EXPECT_EQ(Page(reserved[i], 1)[519], 'R') << reserved[i];
    EXPECT_EQ(first[100], 0xFF);
  }

  ASSERT_EQ(newer.Scan(kType), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().systemBlockCount, kReserved);
  ASSERT_EQ(newer.FirmwareVersions(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(newer.FileVersions(), PROGRAM_MEDIA_DONE);
  auto& files = newer.Record();
  for (int file = 0; file < 2; ++file) {
    EXPECT_EQ(files.deviceVersionA[file][0], files.fileVersionA[file][0]);
    EXPECT_EQ(files.deviceVersionA[file][1], files.fileVersionA[file][1]);
    EXPECT_EQ(files.deviceVersionB[file][0], files.fileVersionB[file][0]);
    EXPECT_EQ(files.deviceVersionB[file][1], files.fileVersionB[file][1]);
  }
  EXPECT_EQ(files.deviceVersionB[1][1], 6);
}

TEST_F(FullReflashTest, BlockThatDoesNotKeepItsDataIsRetired) {
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.FullFormat(kType, 0), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  uint32_t weakBlock = Drive().firstReservedBlock + 1;
  auto faults = player_->Faults();
  faults.weakPages[weakBlock * 32 + 7] = 0;
  player_->SetFaults(faults);
  ASSERT_EQ(set_.Program(kType), PROGRAM_MEDIA_DONE);

  // Erased, its first two pages zeroed with zero redundant areas, and data
  // of the same block written into the next system block.
  EXPECT_EQ(Drive().blockStatus[weakBlock], BLOCK_BAD);
  for (uint32_t page : {0u, 1u}) EXPECT_EQ(Page(weakBlock, page), sim::RawPage{}) << page;
  EXPECT_EQ(Page(weakBlock, 2)[0], 0xFF);
  firmware::PreparedFileSet prepared;
  Prepare(set_, prepared);
  sim::RawPage moved = Page(weakBlock + 1, 0);
  EXPECT_EQ(std::memcmp(moved.data(), prepared[0].buffer.data() + kBlockBytes, 512), 0);
  ASSERT_EQ(set_.Scan(kType), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(Drive().blockStatus[weakBlock], BLOCK_BAD);
}

}  // namespace
}  // namespace orvik::testing
