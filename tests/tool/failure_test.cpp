// Failures a person meets, through the built program: each explained in
// words (cause, what to do, and after an update or format the player's
// state), with the documented exit code, and as the "error" object of the
// JSON document.
#include <filesystem>
#include <string>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class FailureTest : public ToolTest {
 protected:
  std::string Text(const nlohmann::json& document, const char* field) {
    return document["error"].value(field, std::string());
  }
};

TEST_F(FailureTest, CommandsThatInspectAFolderNeedAPlayerThere) {
  const std::string missing = scratch_ + "/nobody";
  for (std::vector<std::string> args : {std::vector<std::string>{"sim", "inspect"},
                                        {"sim", "files"},
                                        {"sim", "ecc"},
                                        {"sim", "export-fat", "--out", scratch_ + "/v.img"},
                                        {"sim", "mode", "--recovery-mode"}}) {
    args.insert(args.begin(), {"--player", missing});
    nlohmann::json failed = OrvikJson(args, 1);
    EXPECT_EQ(failed["error"]["code"], "no-player") << args[2];
    EXPECT_NE(Text(failed, "action").find("orvik sim create --player " + missing),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(missing));
  ProgramRun human = Orvik({"--player", missing, "sim", "inspect"});
  EXPECT_EQ(human.exitCode, 1);
  EXPECT_EQ(human.out, "Target: simulated player in " + missing + "\n");
  EXPECT_NE(human.err.find("error: There is no simulated player in " + missing), std::string::npos);
  EXPECT_NE(human.err.find("what to do:"), std::string::npos);
  // A player with no file system has nothing to export.
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  EXPECT_EQ(OrvikJson({"sim", "export-fat", "--out", scratch_ + "/v.img"}, 1)["error"]["code"],
            "no-volume");
}

TEST_F(FailureTest, BadManifestsNameTheFileTheFieldAndTheProblem) {
  const std::string set = CopySamples("set");
  const std::string manifest = set + "/manifest.json";
  const std::string good = ReadFile(manifest);
  // Edited by hand below, so no longer signed (its checksums still hold).
  fs::remove(manifest + ".sig");
  struct Case {
    std::string from, to;  // a change to the good manifest
    std::string field, problem;
  };
  const Case cases[] = {
      {"\"kind\": \"raw\"", "\"kind\": \"binary\"", "files[2].kind", "is not a file kind"},
      {"\"tag\": \"D\"", "\"tag\": \"P\"", "files[1].tag", "already the tag of another file"},
      {"\"path\": \"dsp.srec\"", "\"path\": \"missing.srec\"", "files[1].path", "cannot be read"},
      {"\"tag\": \"D\"", "\"tag\": \"DD\"", "files[1].tag", "not one character"},
      {"\"tag\": \"D\"", "\"tag\": 252", "files[1].tag", "collide"},
      {"\"lowAreaFile\": 1", "\"lowAreaFile\": 4", "lowAreaFile", "1 to 3"},
      {"\"lowAreaFile\": 1", "\"lowAreFile\": 1", "lowAreFile", "unknown field"},
      {"\"path\": \"resources.bin\"", "\"path\": \"resources.bin\", \"prefix\": \"player.prefix\"",
       "files[2].prefix", "raw files take no prefix"},
      {"\"kind\": \"raw\"", "\"kind\": \"srec\"", "files[2].kind", "no S1 load record"},
      {"\"files\": [", "\"files\": [,", "", "not valid JSON at line"},
      {"\"lowAreaFile\": 1", "\"lowAreaFile\": 1E400", "", "number overflow"},
  };
  for (const Case& change : cases) {
    std::string spoiled = good;
    size_t at = spoiled.find(change.from);
    ASSERT_NE(at, std::string::npos) << change.from;
    spoiled.replace(at, change.from.size(), change.to);
    WriteFile(manifest, spoiled);
    nlohmann::json failed = OrvikJson({"versions", "--manifest", manifest}, 1);
    EXPECT_EQ(failed["error"]["code"], "manifest") << change.to;
    EXPECT_EQ(failed["error"]["details"]["manifest"], manifest);
    EXPECT_EQ(failed["error"]["details"]["field"], change.field) << change.to;
    EXPECT_NE(failed["error"]["details"]["problem"].get<std::string>().find(change.problem),
              std::string::npos)
        << failed["error"].dump(2);
  }
  // Nothing was opened for a manifest the tool refused: no player made.
  EXPECT_FALSE(fs::exists(player_));

  WriteFile(manifest, good);
  WriteFile(set + "/player.prefix", "four");
  ResealSet(manifest, false);
  nlohmann::json prefix = OrvikJson({"update", "--manifest", manifest}, 1);
  EXPECT_EQ(prefix["error"]["details"]["field"], "files[0].prefix");
  EXPECT_EQ(OrvikJson({"update", "--manifest", scratch_ + "/none.json"}, 1)["error"]["code"],
            "manifest");
}

TEST_F(FailureTest, APlayerThatDoesNotAnswerIsExplained) {
  // --device with no device object anywhere.
  nlohmann::json none = OrvikJson({"--device", "info"}, 1);
  EXPECT_EQ(none["error"]["code"], "no-device");
  EXPECT_NE(Text(none, "cause").find("ORVIK_DEVICE_DIR is not set"), std::string::npos);
  nlohmann::json empty = OrvikJson({"--device", "blocks"}, 1, {{"ORVIK_DEVICE_DIR", scratch_}});
  EXPECT_NE(Text(empty, "cause").find("No player is served in " + scratch_), std::string::npos);

  // A simulated player whose third transfer stalls: the flash query gets
  // no answer.
  ASSERT_EQ(Orvik({"sim", "create", "--fail-transfer", "3:stall"}).exitCode, 0);
  nlohmann::json stalled = OrvikJson({"blocks"}, 1);
  EXPECT_EQ(stalled["error"]["code"], "no-answer");
  EXPECT_NE(Text(stalled, "action").find("Reconnect"), std::string::npos);

  // A scan that loses the player part-way: status 3.
  ASSERT_EQ(Orvik({"sim", "faults", "--clear", "--fail-transfer", "12:disconnect"}).exitCode, 0);
  nlohmann::json scan = OrvikJson({"--yes", "quick-format"}, 1);
  EXPECT_EQ(scan["error"]["status"], 3);
  EXPECT_EQ(scan["error"]["statusName"], "PROGRAM_MEDIA_NO_DEVICE");
  EXPECT_EQ(scan["error"]["operation"], "OrvikBuildBlockStatus");
}

TEST_F(FailureTest, PowerCutDuringTheReflashSaysWhatIsLeftAndHowToRecover) {
  ASSERT_EQ(Orvik({"sim", "create", "--power-cut-after", "2000"}).exitCode, 0);
  nlohmann::json cut = OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 1);
  const nlohmann::json& error = cut["error"];
  EXPECT_EQ(error["operation"], "OrvikFatFormatEx");
  EXPECT_EQ(error["status"], 4);
  EXPECT_NE(error["playerState"].get<std::string>().find("no firmware"), std::string::npos);
  EXPECT_NE(error["action"].get<std::string>().find("orvik fix --manifest"), std::string::npos);
  EXPECT_EQ(error["details"]["lastPhase"], 3);  // erasing: it stops at the silent device
  // The player kept what was written before the cut, and the advice repairs it.
  EXPECT_TRUE(fs::exists(player_ + "/nand.bin"));
  EXPECT_EQ(OrvikJson({"--yes", "fix", "--manifest", SampleManifest()}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"check", "--manifest", SampleManifest()}, 0)["result"]["healthy"], true);
}

TEST_F(FailureTest, AMalformedFirmwareFileIsRefusedWithItsLineBeforeThePlayerIsOpened) {
  const std::string set = CopySamples("set");
  const std::string good = ReadFile(set + "/dsp.srec");
  std::string text = good;
  // Line 12's first data digit changes, its checksum does not.
  size_t line = 0;
  for (int i = 0; i < 11; ++i) line = text.find('\n', line) + 1;
  text[line + 8] = text[line + 8] == '0' ? '1' : '0';
  WriteFile(set + "/dsp.srec", text);
  ResealSet(set + "/manifest.json");
  nlohmann::json failed = OrvikJson({"--yes", "reflash", "--manifest", set + "/manifest.json"}, 1);
  const nlohmann::json& error = failed["error"];
  EXPECT_EQ(error["code"], "firmware-file");
  EXPECT_EQ(error["details"]["file"], "dsp.srec");
  EXPECT_EQ(error["details"]["where"], "line 12");
  EXPECT_NE(error["details"]["problem"].get<std::string>().find("checksum"), std::string::npos);
  EXPECT_NE(error["message"].get<std::string>().find("dsp.srec: line 12"), std::string::npos);
  // Refused before anything was opened: no player made, no reservation set.
  EXPECT_FALSE(fs::exists(player_));
  // A damaged S9 version record is caught by the same check.
  text = ReadFile(set + "/player.srec");
  size_t s9 = text.find("S90B");
  text[s9 + 11] = text[s9 + 11] == '1' ? '2' : '1';
  WriteFile(set + "/player.srec", text);
  WriteFile(set + "/dsp.srec", good);
  ResealSet(set + "/manifest.json");
  nlohmann::json version = OrvikJson({"versions", "--manifest", set + "/manifest.json"}, 1);
  EXPECT_EQ(version["error"]["details"]["file"], "player.srec");
  EXPECT_NE(version["error"]["message"].get<std::string>().find("checksum"), std::string::npos);
}

TEST_F(FailureTest, ReservationsTooSmallOrMissingOrMismatchedAreExplained) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  ASSERT_EQ(OrvikJson({"reserve", "32"}, 0)["ok"], true);  // 2 blocks; the set needs 5
  nlohmann::json small = OrvikJson({"update", "--manifest", SampleManifest()}, 1);
  const nlohmann::json& error = small["error"];
  EXPECT_EQ(error["code"], "set-does-not-fit");
  EXPECT_EQ(error["details"]["blocksNeeded"], 5);
  EXPECT_EQ(error["details"]["kiloBytesNeeded"], 96);
  EXPECT_NE(error["message"].get<std::string>().find("needs 5 blocks of 16 KB"), std::string::npos);
  EXPECT_NE(Text(small, "action").find("orvik backup --output"), std::string::npos);
  EXPECT_NE(Text(small, "action").find("--reserve 96 --player"), std::string::npos);
  // The suggested reservation is enough: with one block fewer it is not.
  ASSERT_EQ(OrvikJson({"reserve", "80"}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"--yes", "full-format", "--manifest", SampleManifest()}, 0)["ok"], true)
      << "manifest reservation applies";
  // A flash laid out without firmware holds no startup copy: the player
  // comes up as its recovery device until an update writes one.
  ASSERT_EQ(OrvikJson({"reserve", "80"}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"--yes", "full-format"}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"--recovery", "update", "--manifest", SampleManifest()}, 1)["error"]["code"],
            "set-does-not-fit");
  ASSERT_EQ(OrvikJson({"--recovery", "reserve", "96"}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"--recovery", "--yes", "full-format"}, 0)["ok"], true);
  EXPECT_EQ(
      OrvikJson({"--recovery", "update", "--manifest", SampleManifest()}, 0)["result"]["updated"],
      true);

  // No reservation at all, and no manifest to take one from.
  ASSERT_EQ(OrvikJson({"reserve", "--clear"}, 0)["ok"], true);
  nlohmann::json none = OrvikJson({"--yes", "full-format"}, 1);
  EXPECT_EQ(none["error"]["status"], 10);
  EXPECT_NE(none["error"]["message"].get<std::string>().find("No reservation is configured"),
            std::string::npos);

  // A player laid out for 96 KB, updated with 1024 KB configured: status 9,
  // and the way back is the reservation it was laid out with.
  ASSERT_EQ(OrvikJson({"reserve", "1024"}, 0)["ok"], true);
  nlohmann::json mismatch =
      OrvikJson({"--yes", "update", "--force", "--manifest", SampleManifest()}, 1);
  EXPECT_EQ(mismatch["error"]["status"], 9);
  EXPECT_EQ(mismatch["error"]["details"]["systemBlocksFound"], 6);
  EXPECT_NE(Text(mismatch, "action").find("`orvik reserve 96 --player"), std::string::npos);
  EXPECT_NE(Text(mismatch, "action").find("orvik backup --output"), std::string::npos);
}

// The manifest's reservation is written for the update; a player that
// refuses it before anything is written gets the setting back as it was.
TEST_F(FailureTest, AnUpdateThatWritesNothingLeavesTheSettingAsItWas) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);  // no system area yet
  ASSERT_EQ(OrvikJson({"reserve"}, 0)["result"]["kiloBytes"], nullptr);
  nlohmann::json bare = OrvikJson({"--yes", "update", "--manifest", SampleManifest()}, 1);
  EXPECT_EQ(bare["error"]["playerState"], "Nothing was written: the player is as it was.");
  EXPECT_EQ(OrvikJson({"reserve"}, 0)["result"]["kiloBytes"], nullptr);
}

TEST_F(FailureTest, UsageErrorsHaveTheirOwnExitCode) {
  ProgramRun unknown = Orvik({"frobnicate"});
  EXPECT_EQ(unknown.exitCode, 64);
  EXPECT_NE(unknown.err.find("orvik --help"), std::string::npos);
  ProgramRun missing = Orvik({"update"});
  EXPECT_EQ(missing.exitCode, 64);
  nlohmann::json json = OrvikJson({"card", "read"}, 64);
  EXPECT_EQ(json["error"]["code"], "usage");
  EXPECT_EQ(Orvik({"--help"}).exitCode, 0);
}

}  // namespace
}  // namespace orvik::tool::testing
