// The whole typical reflash on a simulated type-7 player, through the
// exports only, as a host drives it: open, flash sizes, file versions, scan,
// full format with files, scan, quick format, data-area erase, stored
// version query, free, close.
#include <string>

#include "reflash_files.h"
#include "sim/inspect/block_map.h"
#include "sim/inspect/ecc_check.h"
#include "sim/inspect/volume_export.h"
#include "support/fat_tool_judge.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

using namespace sim::inspect;

class ReflashWorkflowTest : public SimPlayerTest {};

TEST_F(ReflashWorkflowTest, TypicalReflashOfAType7Player) {
  sim::PlayerConfig config;
  config.flashType = 7;
  config.instance = 3;
  config.factoryBadBlocks = {12, 700, 2500, 4000};
  player_ = sim::Player::Create(config);
  player_->Register();
  Reserve(1024);  // 64 blocks at the top of the flash for the firmware
  ReflashFiles files;

  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  ORVIK_ULONG flashType = 0, failed = 1;
  ASSERT_EQ(OrvikGetFlashSizes(&flashType, &failed), ACCESS_DEVICE_ANSWERED);
  ASSERT_EQ(flashType, 7u);
  ASSERT_EQ(failed, 0u);
  ORVIK_ULONG types[1] = {flashType};

  ASSERT_EQ(OrvikGetFileVersion(files.data, files.lengths, &files.record), PROGRAM_MEDIA_DONE);
  EXPECT_EQ(files.record.fileVersionA[0][0], ReflashFiles::kSrecVersion[0]);
  EXPECT_EQ(files.record.fileVersionB[1][1], ReflashFiles::kRawVersion[3]);

  OrvikSetPhase(ORVIK_PHASE_HOST_SCAN_REQUEST, 0.0, nullptr);
  ASSERT_EQ(OrvikBuildBlockStatus(types, 0, 0, &files.record, nullptr), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(OrvikFatFormatEx(types, 0, 1, files.data, files.lengths, files.prefixes,
                             files.prefixLengths, &files.record, nullptr),
            PROGRAM_MEDIA_DONE);
  ASSERT_EQ(OrvikBuildBlockStatus(types, 0, 0, &files.record, nullptr), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(OrvikQuickFormatPelk(types, 0, 1, &files.record, nullptr), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(OrvikFatEraseDataArea(types, 0, nullptr), PROGRAM_MEDIA_DONE);
  ASSERT_EQ(OrvikGetFirmwareVersion(types, 0, &files.record), PROGRAM_MEDIA_DONE);
  for (int file = 0; file < 2; ++file) {
    for (int word = 0; word < 2; ++word) {
      EXPECT_EQ(files.record.deviceVersionA[file][word], files.record.fileVersionA[file][word])
          << "file " << file << " word " << word;
      EXPECT_EQ(files.record.deviceVersionB[file][word], files.record.fileVersionB[file][word])
          << "file " << file << " word " << word;
    }
  }
  EXPECT_EQ(OrvikFreeMemoryDevice(0), 1);
  EXPECT_EQ(OrvikCloseDriver(), 1);

  const sim::Statistics stats = player_->Stats();
  EXPECT_EQ(stats.protocolViolations, 0u) << (stats.violations.empty() ? "" : stats.violations[0]);
  EXPECT_EQ(player_->UserData().formatStatus, 1u);

  // The flash as a reader sees it: the firmware kept, a clean volume.
  BlockMap map = MapBlocks(*player_);
  EXPECT_GT(map.SystemBlocksByTag()['P'], 0u) << DescribeBlockMap(map);
  EXPECT_GT(map.SystemBlocksByTag()['R'], 0u) << DescribeBlockMap(map);
  EXPECT_TRUE(map.duplicates.empty());
  EXPECT_TRUE(CheckDataPages(*player_, map).findings.empty());
  if (!FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  ScratchDir dir;
  VolumeExport exported = ExportVolume(*player_, dir.File("volume.img"));
  ASSERT_TRUE(exported.ok) << exported.error;
  EXPECT_EQ(exported.partitionSectors, 127945u - 64 * 32);
  FsckReport fsck = CheckWithFsck(dir.File("volume.img"));
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(RoundTripWithMtools(dir.File("volume.img"), dir.File("in"), dir.File("out"), 40000),
            "");
}

}  // namespace
}  // namespace orvik::testing
