// Volume images in and out of a simulated player: files copied in with
// mtools and imported come back whole from every zone of the flash,
// `backup` and `sim export-fat` give the same bytes, and an image that does
// not fit the player's volume is refused with what differs.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "sim/inspect/block_map.h"
#include "sim/player.h"
#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class VolumeImageTest : public ToolTest {
 protected:
  std::string Export(const std::string& name) {
    const std::string image = scratch_ + "/" + name;
    nlohmann::json exported = OrvikJson({"sim", "export-fat", "--out", image}, 0);
    EXPECT_EQ(exported["result"]["eccFindings"], 0);
    return image;
  }

  // The zones that hold logical blocks of the player's volume.
  std::set<uint32_t> ZonesInUse() {
    std::string why;
    std::shared_ptr<sim::Player> player = sim::Player::Load(player_, &why);
    EXPECT_NE(player, nullptr) << why;
    std::set<uint32_t> zones;
    if (player == nullptr) return zones;
    for (const auto& [logical, physical] : sim::inspect::MapBlocks(*player).logical)
      zones.insert(sim::inspect::ZoneLayout::ZoneOfLogical(logical));
    return zones;
  }
};

// Bytes that differ from file to file and from block to block.
std::string Pattern(size_t bytes, uint32_t seed) {
  std::string text(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i)
    text[i] = static_cast<char>((i * 131 + seed * 7 + i / 512) % 251);
  return text;
}

TEST_F(VolumeImageTest, FilesPutOnTheVolumeComeBackWholeFromEveryZone) {
  if (!orvik::testing::FatToolsAvailable()) GTEST_SKIP() << "fsck.fat or mtools not installed";
  MakeReflashedPlayer();
  const std::string empty = Export("empty.img");
  const std::map<std::string, std::string> files = {
      {"MUSIC/ALBUM ONE/Track 01 - the long opening.raw", Pattern(36 << 20, 1)},  // zones 0 to 2
      {"MUSIC/ALBUM ONE/Track 02.raw", Pattern(700000, 2)},
      {"DOCS/NOTES/READ ME FIRST please.txt", "notes kept on the player\n"},
      {"CLUSTER.BIN", Pattern(16384, 3)},  // exactly one cluster of the type 7 volume
      {"EMPTY.TXT", ""},
  };
  const std::string imported = PutFilesOnTheVolume(files);
  EXPECT_EQ(ZonesInUse(), (std::set<uint32_t>{0, 1, 2}));

  const std::string exported = Export("again.img");
  EXPECT_TRUE(ReadFile(exported) == ReadFile(imported)) << "the volume read back differs";
  const std::string backup = scratch_ + "/backup.img";
  OrvikJson({"backup", "--output", backup}, 0);
  EXPECT_TRUE(ReadFile(backup) == ReadFile(exported)) << "backup and export-fat differ";

  const orvik::testing::FsckReport fsck = orvik::testing::CheckWithFsck(exported);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.files, files.size() + 4) << fsck.output;  // and MUSIC, ALBUM ONE, DOCS, NOTES
  for (const auto& [name, content] : files) {
    ProgramRun typed = RunProgram("/usr/bin/mtype", {"-i", exported, "::/" + name}, {}, scratch_);
    EXPECT_EQ(typed.exitCode, 0) << name << ": " << typed.err;
    EXPECT_TRUE(typed.out == content) << name << " differs";
  }

  // The same image again changes nothing; the empty volume's image puts
  // the blocks its files took back to erased.
  nlohmann::json again = OrvikJson({"--yes", "sim", "import-fat", imported}, 0);
  EXPECT_EQ(again["result"]["blocksWritten"], 0);
  nlohmann::json emptied = OrvikJson({"--yes", "sim", "import-fat", empty}, 0);
  EXPECT_GT(emptied["result"]["blocksCleared"].get<int>(), 2000);
  EXPECT_EQ(ZonesInUse(), (std::set<uint32_t>{0}));
  EXPECT_TRUE(ReadFile(Export("emptied.img")) == ReadFile(empty));
}

TEST_F(VolumeImageTest, ADryRunImportCountsAndChangesNothing) {
  MakeReflashedPlayer();
  const std::string image = Export("volume.img");
  WriteFile(scratch_ + "/note", "a note\n");
  ASSERT_EQ(
      RunProgram("/usr/bin/mcopy", {"-i", image, scratch_ + "/note", "::NOTE.TXT"}, {}, scratch_)
          .exitCode,
      0);
  const std::string nand = ReadFile(player_ + "/nand.bin");
  nlohmann::json planned = OrvikJson({"--dry-run", "sim", "import-fat", image}, 0);
  EXPECT_EQ(planned["result"]["dryRun"], true);
  // The directory, both FATs and the note's cluster.
  EXPECT_GE(planned["result"]["blocksWritten"].get<int>(), 2);
  EXPECT_TRUE(ReadFile(player_ + "/nand.bin") == nand);
  // Without a terminal to ask on and without --yes, nothing is written either.
  EXPECT_EQ(OrvikJson({"sim", "import-fat", image}, 64)["error"]["code"], "confirmation-needed");
  EXPECT_TRUE(ReadFile(player_ + "/nand.bin") == nand);
}

TEST_F(VolumeImageTest, AnImageThatDoesNotFitTheVolumeIsRefusedWithWhatDiffers) {
  MakeReflashedPlayer();
  const std::string good = Export("volume.img");
  const std::string bytes = ReadFile(good);
  const std::string nand = ReadFile(player_ + "/nand.bin");
  struct Case {
    const char* name;
    std::string image;  // the image's bytes
    const char* code;
    std::vector<std::string> said;
  };
  std::string otherClusters = bytes, otherFat = bytes, blank = bytes;
  otherClusters[13] = 4;                  // sectors per cluster
  otherFat[22] = 20;                      // sectors per FAT
  std::fill_n(blank.begin(), 512, '\0');  // no boot sector
  const Case cases[] = {
      {"one sector short",
       bytes.substr(0, bytes.size() - 512),
       "image-mismatch",
       {"64458752 bytes", "64459264"}},
      {"one sector long", bytes + std::string(512, '\xFF'), "image-mismatch", {"64459776 bytes"}},
      {"other clusters",
       otherClusters,
       "image-mismatch",
       {"sectors per cluster: the image has 4, the player's volume 32"}},
      {"other FAT size", otherFat, "image-mismatch", {"sectors per FAT: the image has 20"}},
      {"no boot sector", blank, "image-mismatch", {"no 55 AA signature", "bytes per sector"}},
  };
  for (const Case& bad : cases) {
    const std::string path = scratch_ + "/bad.img";
    WriteFile(path, bad.image);
    nlohmann::json refused = OrvikJson({"--yes", "sim", "import-fat", path}, 1);
    EXPECT_EQ(refused["error"]["code"], bad.code) << bad.name;
    const std::string message = refused["error"].value("message", std::string());
    for (const std::string& said : bad.said)
      EXPECT_NE(message.find(said), std::string::npos) << bad.name << ": " << message;
  }
  ASSERT_EQ(mkfifo((scratch_ + "/pipe").c_str(), 0600), 0);
  EXPECT_EQ(OrvikJson({"--yes", "sim", "import-fat", scratch_ + "/pipe"}, 1)["error"]["code"],
            "not-a-file");
  EXPECT_TRUE(ReadFile(player_ + "/nand.bin") == nand) << "a refused image changed the flash";
}

}  // namespace
}  // namespace orvik::tool::testing
