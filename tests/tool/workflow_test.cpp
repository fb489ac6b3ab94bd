// The firmware and format commands against a simulated player, through the
// built program, with their JSON documents; the exported volume judged by
// standard FAT tools; the stored firmware read back off the flash.
#include <filesystem>
#include <string>

#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class WorkflowTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  }
  void Reflash() {
    nlohmann::json done = OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 0);
    ASSERT_TRUE(done["ok"].get<bool>()) << done.dump(2);
  }
};

TEST_F(WorkflowTest, ReflashWritesTheSetAndTheVersionsMatchAfterwards) {
  nlohmann::json reflash = OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 0);
  EXPECT_EQ(reflash["command"], "reflash");
  EXPECT_EQ(reflash["target"]["kind"], "simulator");
  EXPECT_EQ(reflash["target"]["player"], player_);
  const nlohmann::json& result = reflash["result"];
  EXPECT_EQ(result["reservationChanged"]["to"], 1024);
  EXPECT_EQ(result["systemBlockCount"], 64);
  EXPECT_EQ(result["steps"], nlohmann::json({"full format with firmware", "quick format"}));
  ASSERT_EQ(result["after"].size(), 3u);
  EXPECT_EQ(result["after"][0]["tag"], "P");
  EXPECT_EQ(result["after"][0]["storedVersion"]["text"], "1.2.0.7");
  EXPECT_EQ(result["after"][1]["storedVersion"]["a"], nlohmann::json({3, 1}));
  EXPECT_EQ(result["after"][2]["storedVersion"]["b"], nlohmann::json({1, 3}));
  for (const nlohmann::json& row : result["after"]) EXPECT_EQ(row["state"], "up to date");

  nlohmann::json versions = OrvikJson({"versions", "--manifest", SampleManifest()}, 2);
  EXPECT_TRUE(versions["result"]["upToDate"].get<bool>());

  // Nothing to do: exit 2, and nothing written (the flash image is unchanged).
  const std::string before = ReadFile(player_ + "/nand.bin");
  nlohmann::json update = OrvikJson({"update", "--manifest", SampleManifest()}, 2);
  EXPECT_FALSE(update["result"]["updated"].get<bool>());
  EXPECT_TRUE(ReadFile(player_ + "/nand.bin") == before);

  ProgramRun human = Orvik({"update", "--manifest", SampleManifest()});
  EXPECT_EQ(human.exitCode, 2);
  EXPECT_NE(human.out.find("Firmware already up to date: nothing to do"), std::string::npos);
}

TEST_F(WorkflowTest, UpdateWritesNewerFirmwareAndKeepsTheFileSystem) {
  Reflash();
  // The update must leave the volume exactly as it was.
  ASSERT_EQ(OrvikJson({"sim", "export-fat", "--out", scratch_ + "/before.img"}, 0)["ok"], true);

  // A newer set: the raw file's version trailer says 2.0.1.4.
  const std::string set = CopySamples("newer");
  std::string raw = ReadFile(set + "/resources.bin");
  raw[raw.size() - 2] = 4;
  WriteFile(set + "/resources.bin", raw);
  ResealSet(set + "/manifest.json");
  nlohmann::json versions = OrvikJson({"versions", "--manifest", set + "/manifest.json"}, 0);
  EXPECT_FALSE(versions["result"]["upToDate"].get<bool>());
  EXPECT_EQ(versions["result"]["files"][2]["state"], "update available");
  EXPECT_EQ(versions["result"]["files"][0]["state"], "up to date");

  nlohmann::json update = OrvikJson({"update", "--manifest", set + "/manifest.json"}, 0);
  EXPECT_TRUE(update["result"]["updated"].get<bool>());
  EXPECT_EQ(update["result"]["after"][2]["storedVersion"]["text"], "2.0.1.4");
  EXPECT_EQ(update["result"]["before"][2]["storedVersion"]["text"], "2.0.1.3");

  ASSERT_EQ(OrvikJson({"sim", "export-fat", "--out", scratch_ + "/after.img"}, 0)["ok"], true);
  EXPECT_TRUE(ReadFile(scratch_ + "/before.img") == ReadFile(scratch_ + "/after.img"));
  // --force writes an up-to-date set again.
  nlohmann::json forced =
      OrvikJson({"--yes", "update", "--force", "--manifest", set + "/manifest.json"}, 0);
  EXPECT_TRUE(forced["result"]["updated"].get<bool>());
}

TEST_F(WorkflowTest, BlockMapCountsEachFilesBlocks) {
  Reflash();
  nlohmann::json blocks = OrvikJson({"blocks", "--manifest", SampleManifest()}, 0);
  const nlohmann::json& result = blocks["result"];
  EXPECT_EQ(result["flash"]["type"], 7);
  EXPECT_EQ(result["cisBlock"], 0);
  EXPECT_EQ(result["firstReservedBlock"], 4032);
  EXPECT_EQ(result["counts"]["bad"], 2);
  EXPECT_EQ(result["counts"]["cis"], 1);
  EXPECT_EQ(result["counts"]["files"]["D"], 1);  // 7680 bytes: one 16 KB block
  EXPECT_EQ(result["counts"]["files"]["R"], 2);
  EXPECT_EQ(result["counts"]["files"]["P"], 4);  // two copies of two blocks
  // Low system blocks 1-3 and the reserved area: the blocks no file uses.
  EXPECT_EQ(result["counts"]["system"], 67);
  EXPECT_EQ(result["counts"]["systemUnused"], 60);
  const std::string map = result["map"];
  ASSERT_EQ(map.size(), 4096u);
  EXPECT_EQ(map.substr(0, 5), "CPPSF");
  EXPECT_EQ(map.substr(4032, 6), "PPDRRS");
  for (const nlohmann::json& block : result["badBlocks"]) EXPECT_EQ(map[block.get<size_t>()], 'X');

  // sim inspect draws the same map with the same counts.
  nlohmann::json inspect = OrvikJson({"sim", "inspect"}, 0);
  EXPECT_EQ(inspect["result"]["map"], result["map"]);
  EXPECT_EQ(inspect["result"]["counts"], result["counts"]);

  ProgramRun human = Orvik({"blocks", "--manifest", SampleManifest(), "--width", "128"});
  EXPECT_EQ(human.exitCode, 0);
  EXPECT_NE(human.out.find("   0 CPPSFFFF..."), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("R file R (2)"), std::string::npos) << human.out;
}

TEST_F(WorkflowTest, ExportedVolumePassesFsckAndTakesAFile) {
  Reflash();
  const std::string image = scratch_ + "/volume.img";
  nlohmann::json exported = OrvikJson({"sim", "export-fat", "--out", image}, 0);
  EXPECT_EQ(exported["result"]["partitionStart"], 55);
  EXPECT_GT(exported["result"]["sectorsFromFlash"].get<int>(), 0);

  const orvik::testing::FsckReport fsck = orvik::testing::CheckWithFsck(image);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.files, 0u) << fsck.output;

  const std::string note = scratch_ + "/NOTE.TXT";
  WriteFile(note, "written by the tool test\n");
  ProgramRun copy = RunProgram("/usr/bin/mcopy", {"-i", image, note, "::NOTE.TXT"}, {}, scratch_);
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  ProgramRun listing = RunProgram("/usr/bin/mdir", {"-i", image, "::"}, {}, scratch_);
  EXPECT_NE(listing.out.find("NOTE     TXT"), std::string::npos) << listing.out;
  ProgramRun back = RunProgram("/usr/bin/mtype", {"-i", image, "::NOTE.TXT"}, {}, scratch_);
  EXPECT_EQ(back.out, "written by the tool test\n");
}

TEST_F(WorkflowTest, StoredFilesAreReadBackAsTheyWereWritten) {
  Reflash();
  const std::string extract = scratch_ + "/files";
  nlohmann::json files = OrvikJson({"sim", "files", "--extract", extract}, 0);
  const nlohmann::json& list = files["result"]["files"];
  ASSERT_EQ(list.size(), 3u);  // D, P, R in tag order
  EXPECT_EQ(list[1]["tag"], "P");
  ASSERT_EQ(list[1]["copies"].size(), 2u);  // low system blocks and reserved area
  EXPECT_EQ(list[1]["copies"][1]["version"]["text"], "1.2.0.7");
  EXPECT_EQ(list[1]["copies"][1]["blocks"], nlohmann::json({4032, 4033}));
  EXPECT_EQ(list[0]["copies"][0]["version"]["text"], "3.1.0.21");

  // The raw file is stored 510 bytes to a 512-byte page, the rest zeros.
  const std::string raw =
      ReadFile(std::string(ORVIK_SOURCE_DIR) + "/samples/firmware/resources.bin");
  const std::string stored = ReadFile(extract + "/R-copy1.img");
  const size_t pages = (raw.size() + 509) / 510;
  ASSERT_EQ(stored.size(), pages * 512);
  std::string packed;
  for (size_t page = 0; page < pages; ++page) {
    std::string piece = raw.substr(page * 510, 510);
    piece.resize(512, '\0');
    packed += piece;
  }
  EXPECT_TRUE(stored == packed);
  // Both copies of the player file hold the same image.
  EXPECT_TRUE(ReadFile(extract + "/P-copy1.img") == ReadFile(extract + "/P-copy2.img"));
}

TEST_F(WorkflowTest, FormatsAndInspection) {
  Reflash();
  nlohmann::json quick = OrvikJson({"--yes", "quick-format"}, 0);
  EXPECT_EQ(quick["result"]["cisBlock"], 0);
  nlohmann::json erase = OrvikJson({"--yes", "erase-data"}, 0);
  EXPECT_EQ(erase["command"], "erase-data");

  nlohmann::json inspect = OrvikJson({"sim", "inspect"}, 0);
  const nlohmann::json& result = inspect["result"];
  EXPECT_EQ(result["cisBlock"], 0);
  EXPECT_EQ(result["counts"]["bad"], 2);
  EXPECT_GT(result["counts"]["formatUsed"].get<int>(), 0);
  EXPECT_EQ(result["ecc"]["uncorrectable"], 0);
  EXPECT_EQ(result["reservationKiloBytes"], 1024);
  EXPECT_EQ(result["files"].size(), 3u);

  nlohmann::json ecc = OrvikJson({"sim", "ecc"}, 0);
  EXPECT_GT(ecc["result"]["pagesChecked"].get<int>(), 32);
  EXPECT_EQ(ecc["result"]["findings"].size(), 0u);

  // A full format without firmware: the system area is laid out, no file.
  nlohmann::json full = OrvikJson({"--yes", "full-format"}, 0);
  EXPECT_FALSE(full["result"]["firmwareWritten"].get<bool>());
  nlohmann::json after = OrvikJson({"sim", "files"}, 0);
  for (const nlohmann::json& file : after["result"]["files"]) EXPECT_TRUE(file["copies"].empty());
  // ... so the player has no startup copy and comes up as its recovery
  // device, through which the update writes the firmware into it.
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["start"]["mode"], "recovery");
  EXPECT_TRUE(
      OrvikJson({"--recovery", "update", "--manifest", SampleManifest()}, 0)["result"]["updated"]
          .get<bool>());
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["start"]["mode"], "normal");
}

}  // namespace
}  // namespace orvik::tool::testing
