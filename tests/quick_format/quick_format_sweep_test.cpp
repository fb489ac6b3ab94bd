// The quick format over a volume that holds a file, with one transfer failing
// at every point in turn: it either fails (4) or leaves a volume that
// fsck.fat passes and that lists nothing of the old directory.  A block of
// the old volume whose erase failed must not keep claiming its logical block.
#include <cstring>
#include <functional>

#include "media/format_layout.h"
#include "protocol/ecc.h"
#include "quick_format_fixture.h"
#include "sim/inspect/volume_export.h"
#include "support/fat_tool_judge.h"
#include "support/flash_snapshot.h"

namespace orvik::testing {
namespace {

constexpr uint32_t kType = 0;
class QuickFormatSweepTest : public QuickFormatTest {
 protected:
  // Rewrites a logical sector of the volume in place, with its ECC.
  void PatchSector(uint32_t sector, const std::function<void(uint8_t*)>& change) {
    sim::inspect::BlockMap map = sim::inspect::MapBlocks(*player_);
    std::optional<uint32_t> block = map.PhysicalBlockOf(sector / PagesPerBlock());
    ASSERT_TRUE(block.has_value()) << "sector " << sector;
    uint32_t index = *block * PagesPerBlock() + sector % PagesPerBlock();
    sim::RawPage raw = player_->ReadPage(index);
    change(raw.data());
    protocol::ComputeEcc256(raw.data() + 256, raw.data() + 512 + 8);
    protocol::ComputeEcc256(raw.data(), raw.data() + 512 + 13);
    player_->SetPageRaw(index, raw);
  }

  // A quick-formatted volume with OLD.TXT in its root directory: one
  // cluster, the first of the data area (its content is never read here).
  void WriteOldFile() {
    const media::FormatLayout& layout = media::kFormatLayouts[kType];
    PatchSector(layout.RootDirectorySector(), [](uint8_t* entry) {
      std::memcpy(entry, "OLD     TXT", 11);
      entry[11] = 0x20;
      entry[26] = 2;    // first cluster
      entry[28] = 100;  // size
    });
    ASSERT_EQ(layout.fat, media::FatKind::kFat12);
    for (uint32_t fat : {layout.fat1Sector, layout.fat2Sector})  // cluster 2: end of chain
      PatchSector(fat, [](uint8_t* sector) { sector[3] = 0xFF, sector[4] |= 0x0F; });
  }

  // The exported volume judged: "" when fsck.fat passes it and its root
  // lists no file, else what is wrong.
  std::string JudgeEmptyVolume(const ScratchDir& dir) {
    const std::string image = dir.File("volume.img");
    sim::inspect::VolumeExport exported = sim::inspect::ExportVolume(*player_, image);
    if (!exported.ok) return "export: " + exported.error;
    FsckReport fsck = CheckWithFsck(image);
    if (!fsck.unexpectedLines.empty()) return "fsck.fat: " + fsck.output;
    ToolRun list = RunTool("MTOOLS_NO_VFAT=1 mdir -i '" + image + "' ::");
    if (list.output.find("No files") == std::string::npos) return "mdir: " + list.output;
    return "";
  }
};

TEST_F(QuickFormatSweepTest, FailedTransferAnywhereNeverLeavesTheOldDirectory) {
  if (!FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  StartScanned(kType);
  ASSERT_EQ(QuickFormat(kType), PROGRAM_MEDIA_DONE);
  WriteOldFile();
  ScratchDir dir;
  {
    const std::string image = dir.File("old.img");
    ASSERT_TRUE(sim::inspect::ExportVolume(*player_, image).ok);
    ASSERT_NE(RunTool("MTOOLS_NO_VFAT=1 mdir -i '" + image + "' ::").output.find("OLD"),
              std::string::npos);
  }
  const FlashImage old = TakeFlash(*player_);
  ASSERT_EQ(Scan(kType), PROGRAM_MEDIA_DONE);
  uint64_t start = player_->TransferCount();
  ASSERT_EQ(QuickFormat(kType), PROGRAM_MEDIA_DONE);
  const uint64_t total = player_->TransferCount() - start;

  // Every point while the old volume's blocks are erased, a spread after.
  for (uint64_t n : SweepPoints(total, 80, 24)) {
    PutFlash(*player_, old);
    ASSERT_EQ(Scan(kType), PROGRAM_MEDIA_DONE);
    player_->AddTransferFault({n, sim::TransferFault::Kind::kError});
    PROGRAM_MEDIA_STATUS status = QuickFormat(kType);
    if (status == PROGRAM_MEDIA_FORMAT_FAILED) continue;
    ASSERT_EQ(status, PROGRAM_MEDIA_DONE) << "transfer " << n;
    EXPECT_EQ(JudgeEmptyVolume(dir), "") << "transfer " << n;
  }
}

}  // namespace
}  // namespace orvik::testing
