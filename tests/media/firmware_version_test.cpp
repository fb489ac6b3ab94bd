// The version query of the firmware stored on a simulated player.
#include <chrono>

#include "api/library_context.h"
#include "media/block_status.h"
#include "protocol/media_state.h"
#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

class FirmwareVersionTest : public SimPlayerTest {
 protected:
  void SetUp() override {
    set_.Add('P', FILE_KIND_SREC, SRecordFile(3000, 1, {1, 2, 3, 4}), {9, 9, 9});
    set_.Add('R', FILE_KIND_RAW, RawFile(3000, 2, {5, 6, 7, 8}));
    set_.Add('S', FILE_KIND_RAW, RawFile(3000, 3, {9, 10, 11, 12}));
    StartPlayer(3);
    ReserveBlocks(20, 8192);
    ASSERT_EQ(set_.Scan(3), PROGRAM_MEDIA_DONE);
    ASSERT_EQ(set_.FullFormat(3, 1), PROGRAM_MEDIA_DONE);
  }

  void ExpectWords(int file, uint16_t a1, uint16_t a2, uint16_t b1, uint16_t b2) {
    auto& files = set_.Record();
    EXPECT_EQ(files.deviceVersionA[file][0], a1) << file;
    EXPECT_EQ(files.deviceVersionA[file][1], a2) << file;
    EXPECT_EQ(files.deviceVersionB[file][0], b1) << file;
    EXPECT_EQ(files.deviceVersionB[file][1], b2) << file;
  }

  FirmwareSet set_;
};

TEST_F(FirmwareVersionTest, ReadsTheWordsOfEveryStoredFile) {
  ASSERT_EQ(set_.FirmwareVersions(3), PROGRAM_MEDIA_DONE);
  ExpectWords(0, 1, 2, 3, 4);
  ExpectWords(1, 5, 6, 7, 8);
  ExpectWords(2, 9, 10, 11, 12);
  // The table now names the file blocks by their markers.
  const auto& drive = *api::Context().DriveState(0);
  uint32_t found = 0;
  for (uint32_t block = 0; block < 1024; ++block)
    if (drive.blockStatus[block] == 'R' + 4) ++found;
  EXPECT_EQ(found, 1u);
  // Host data around the version fields passes through unchanged.
  auto& files = set_.Record();
  files.hostData[0] = 0xAB;
  files.hostData[6239] = 0xCD;
  files.hostData2[7] = 0xEF;
  ASSERT_EQ(set_.FirmwareVersions(3), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(files.hostData[0], 0xAB);
  EXPECT_EQ(files.hostData[6239], 0xCD);
  EXPECT_EQ(files.hostData2[7], 0xEF);
}

// A device that stops answering while the system blocks are recognised
// ends the query at once as "no device", instead of one transfer limit per
// system block.
TEST_F(FirmwareVersionTest, DeviceThatFallsSilentEndsTheQueryAtOnce) {
  uint64_t start = player_->TransferCount();
  ASSERT_EQ(set_.Scan(3), PROGRAM_MEDIA_DONE);
  const uint64_t scan = player_->TransferCount() - start;
  player_->AddTransferFault({scan + 2, sim::TransferFault::Kind::kStall});
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(set_.FirmwareVersions(3), PROGRAM_MEDIA_NO_DEVICE);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
  EXPECT_EQ(player_->TransferCount() - start, 2 * scan + 2);  // nothing after the silent one
}

TEST_F(FirmwareVersionTest, UnknownTypeAndOtherDrivesSendNothing) {
  player_->ResetStats();
  ORVIK_ULONG types[2] = {36, 3};
  EXPECT_EQ(OrvikGetFirmwareVersion(types, 0, &set_.Record()), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(OrvikGetFirmwareVersion(types, 1, &set_.Record()), PROGRAM_MEDIA_SYSTEM_MISMATCH);
  EXPECT_EQ(OrvikGetFirmwareVersion(nullptr, 0, &set_.Record()), PROGRAM_MEDIA_NOT_FLASH);
  EXPECT_EQ(player_->Stats().transfers, 0u);
  EXPECT_EQ(player_->Stats().controlRequests, 0u);
}

TEST_F(FirmwareVersionTest, SystemAreaOfAnotherSizeIsReported) {
  ReserveBlocks(21, 8192);
  EXPECT_EQ(set_.FirmwareVersions(3), PROGRAM_MEDIA_SYSTEM_MISMATCH);
}

TEST_F(FirmwareVersionTest, FileMissingFromTheReservedAreaStopsTheQuery) {
  // A set whose third file was never programmed.
  FirmwareSet other;
  other.Add('P', FILE_KIND_RAW, {});
  other.Add('R', FILE_KIND_RAW, {});
  other.Add('T', FILE_KIND_RAW, {});
  auto& files = other.Record();
  for (int file = 0; file < 3; ++file) {
    files.deviceVersionA[file][0] = 77;
    files.deviceVersionB[file][1] = 77;
  }
  EXPECT_EQ(other.FirmwareVersions(3), PROGRAM_MEDIA_WRITE_FAILED);
  EXPECT_EQ(files.deviceVersionA[0][0], 1);  // read
  EXPECT_EQ(files.deviceVersionA[1][0], 5);  // read
  EXPECT_EQ(files.deviceVersionA[2][0], 0);  // not found: zeroed
  EXPECT_EQ(files.deviceVersionB[2][1], 0);
}

TEST_F(FirmwareVersionTest, DeviceThatDoesNotAnswerIsReported) {
  OrvikCloseDriver();
  EXPECT_EQ(set_.FirmwareVersions(3), PROGRAM_MEDIA_NO_DEVICE);
}

}  // namespace
}  // namespace orvik::testing
