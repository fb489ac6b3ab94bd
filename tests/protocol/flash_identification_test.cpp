// Flash identification, card sizes, and the flash-size export.
#include "protocol/flash_identification.h"

#include "api/library_context.h"
#include "protocol/command_frame.h"
#include "protocol/flash_types.h"
#include "protocol/media_state.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

using protocol::FlashTypeForIdentification;
using protocol::MmcSizeToFlashType;

TEST(FlashIdentification, NonZeroMakerMapsTheStandardDeviceCodes) {
  for (uint8_t maker : {uint8_t{0x98}, uint8_t{0xEC}, uint8_t{0x01}}) {
    EXPECT_EQ(FlashTypeForIdentification(maker, 0xE6), 3u);
    EXPECT_EQ(FlashTypeForIdentification(maker, 0x73), 4u);
    EXPECT_EQ(FlashTypeForIdentification(maker, 0x75), 5u);
    EXPECT_EQ(FlashTypeForIdentification(maker, 0x76), 7u);
    EXPECT_EQ(FlashTypeForIdentification(maker, 0x79), 11u);
    for (int unmapped : {0x00, 0x02, 0x04, 0x74, 0xF1, 0xFF})
      EXPECT_EQ(FlashTypeForIdentification(maker, static_cast<uint8_t>(unmapped)), 36u) << unmapped;
  }
}

TEST(FlashIdentification, ZeroMakerReadsTheCapacityInFourMegabyteUnits) {
  EXPECT_EQ(FlashTypeForIdentification(0, 2), 3u);
  for (uint32_t k = 1; k <= 32; ++k)
    EXPECT_EQ(FlashTypeForIdentification(0, static_cast<uint8_t>(4 * k)), k + 3);
  for (int unmapped : {0, 1, 3, 6, 130, 132, 136, 252, 255})
    EXPECT_EQ(FlashTypeForIdentification(0, static_cast<uint8_t>(unmapped)), 36u) << unmapped;
  // Every mapped type's geometry matches its capacity.
  for (uint32_t k = 1; k <= 32; ++k) {
    const auto& type = protocol::kFlashTypes[k + 3];
    if (type.typeIndex == 12) continue;  // 9126 blocks, not a whole multiple
    EXPECT_EQ(uint64_t{type.blockCount} * type.BlockBytes(), uint64_t{4 * k} * 4 * 1024 * 1024);
  }
}

TEST(CardSizes, MapToTheSmallestTypeThatHoldsThem) {
  EXPECT_EQ(MmcSizeToFlashType(0), 0u);
  EXPECT_EQ(MmcSizeToFlashType(2048), 0u);   // 1 MiB
  EXPECT_EQ(MmcSizeToFlashType(4096), 1u);   // 2 MiB
  EXPECT_EQ(MmcSizeToFlashType(8192), 2u);   // 4 MiB
  EXPECT_EQ(MmcSizeToFlashType(62720), 5u);  // 30.6 MB
  EXPECT_EQ(MmcSizeToFlashType(65536), 5u);  // 32 MiB
  EXPECT_EQ(MmcSizeToFlashType(65536 + 2048), 7u);
  EXPECT_EQ(MmcSizeToFlashType(1048576), 35u);  // 512 MiB
  EXPECT_EQ(MmcSizeToFlashType(1050624), 36u);  // 513 MiB
  // 4 GiB and beyond would wrap in 32 bits and read as a tiny card.
  EXPECT_EQ(MmcSizeToFlashType(8388608), 36u);
  EXPECT_EQ(MmcSizeToFlashType(8388608 + 2048), 36u);
  EXPECT_EQ(MmcSizeToFlashType(0xFFFFFFFFu), 36u);
}

TEST(FlashTypes, TableRowsAreConsistent) {
  for (uint32_t i = 0; i < protocol::kFlashTypeCount; ++i) {
    const auto& type = protocol::kFlashTypes[i];
    EXPECT_EQ(type.typeIndex, i);
    EXPECT_EQ(type.pageSize, 528);
    EXPECT_EQ(type.dataSize, 512);
    EXPECT_LE(type.logicalBlockCount, type.blockCount);
  }
  EXPECT_EQ(protocol::kFlashTypes[12].blockCount, 9126u);
  EXPECT_EQ(protocol::FlashTypeFor(36), nullptr);
  EXPECT_EQ(protocol::FirstZoneBlocks(1), 256u);
  EXPECT_EQ(protocol::FirstZoneBlocks(2), 512u);
  EXPECT_EQ(protocol::FirstZoneBlocks(3), 1024u);
}

class FlashSizeTest : public LibraryTest {
 protected:
  ~FlashSizeTest() override {
    api::Context().SetDriveMediaKind(protocol::MEDIA_KIND_FLASH);
    api::Context().SetDccVersion(0);
  }
};

TEST_F(FlashSizeTest, CommandWordCarriesDirectionOnlyForNewFirmware) {
  auto word = [](uint32_t dccVersion, uint32_t operation, uint32_t direction) {
    api::Context().SetDccVersion(dccVersion);
    return protocol::FlashCommandWord(operation, direction, api::Context().FlashCommandForm());
  };
  EXPECT_EQ(word(0x101, 0x03, protocol::DIR_FROM_DEVICE), 0x800103u);
  EXPECT_EQ(word(0x101, 0x04, protocol::DIR_TO_DEVICE), 0x400104u);
  EXPECT_EQ(word(0x100, 0x03, protocol::DIR_FROM_DEVICE), 0x000103u);
  EXPECT_EQ(word(0, 0x06, protocol::DIR_FROM_DEVICE), 0x000106u);
}

TEST_F(FlashSizeTest, ReadIdFrameAndMapping) {
  OpenQuietly();
  api::Context().SetDccVersion(0x101);
  device_.QueueReply(Words24({0, 0x75EC}));
  ORVIK_ULONG type = 99, failed = 99;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 5u);
  EXPECT_EQ(failed, 0u);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].data, (std::vector<uint8_t>{0x06, 0x01, 0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(transfers[1].length, 64u);
}

TEST_F(FlashSizeTest, FlashThatDoesNotAnswerIsUnknownButTheQuerySucceeds) {
  OpenQuietly();
  device_.QueueReply(Words24({1, 0x75EC}));
  ORVIK_ULONG type = 0, failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 36u);
  EXPECT_EQ(failed, 0u);
}

TEST_F(FlashSizeTest, TransportFailureSetsFailedAndKeepsTheType) {
  OpenQuietly();
  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueReadAnswer(failed);
  ORVIK_ULONG type = 17, failedWord = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failedWord), ACCESS_DEVICE_NO_ANSWER);
  EXPECT_EQ(failedWord, 1u);
  EXPECT_EQ(type, 17u);
}

TEST_F(FlashSizeTest, CardDriveIsSizedByTheDetect) {
  OpenQuietly();
  api::Context().SetDriveMediaKind(protocol::MEDIA_KIND_MMC);
  std::vector<uint8_t> detect(15, 0);
  detect[3] = 0x00;
  detect[4] = 0xF5;  // 62,720 blocks
  device_.QueueReply(detect);
  ORVIK_ULONG type = 0, failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 5u);
  EXPECT_EQ(api::Context().DriveState(0)->cardCapacity, 62720u);
  EXPECT_EQ(device_.Transfers()[0].data,
            (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00, 0x00, 0x00}));

  device_.QueueReply(std::vector<uint8_t>(15, 0));  // an empty slot: capacity 0
  EXPECT_EQ(OrvikGetFlashSizes(&type, &failed), ACCESS_DEVICE_ANSWERED);
  EXPECT_EQ(type, 36u);
  EXPECT_EQ(OrvikFatPrepareSupported(0), 0);
}

TEST_F(FlashSizeTest, OnlyDriveZeroCanBePrepared) {
  EXPECT_EQ(OrvikFatPrepareSupported(0), 1);
  EXPECT_EQ(OrvikFatPrepareSupported(1), 0);
  EXPECT_EQ(api::Context().DriveState(1), nullptr);
  EXPECT_EQ(api::Context().DriveState(255), nullptr);
}

}  // namespace
}  // namespace orvik::testing
