// The observations a new user made of the tool, each replayed: the unsafe
// or misleading behaviour is gone.  (Two processes on one folder, the
// silent target and Ctrl-C are in safety_test.cpp; the block map that
// `blocks` and `sim inspect` share in workflow_test.cpp; the advice after a
// cut-off update in recovery_test.cpp.)
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "base/shell_quote.h"
#include "player/status_text.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class ObservationsTest : public ToolTest {
 protected:
  // The sample manifest with one text replaced (the test fails when the
  // text is not there).
  std::string Manifest(const std::string& from, const std::string& to) {
    const std::string set = CopySamples("set");
    std::string text = ReadFile(set + "/manifest.json");
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    WriteFile(set + "/manifest.json", text);
    // Edited by hand: no longer signed.
    fs::remove(set + "/manifest.json.sig");
    return set + "/manifest.json";
  }
  std::string Action(const nlohmann::json& document) {
    return document["error"].value("action", std::string());
  }
};

TEST_F(ObservationsTest, O01ReservationAdviceLeadsOutInOneStep) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  // The set needs 5 blocks; the manifest reserves 4.
  const std::string small =
      Manifest("\"totalKiloBytesReserved\": 1024", "\"totalKiloBytesReserved\": 64");
  nlohmann::json refused = OrvikJson({"--yes", "reflash", "--manifest", small}, 1);
  EXPECT_EQ(refused["error"]["code"], "set-does-not-fit");
  EXPECT_NE(Action(refused).find("totalKiloBytesReserved in " + small + " to at least 96 KB"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(player_ + "/registry.reg")) << "nothing written before the check";
  const std::vector<std::string> suggested = SuggestedCommands(Action(refused));
  ASSERT_EQ(suggested.size(), 1u);
  EXPECT_NE(suggested[0].find("--reserve 96"), std::string::npos);
  ProgramRun followed = RunInTerminal(suggested[0], "y\n", {});
  EXPECT_EQ(followed.exitCode, 0) << followed.out;
  EXPECT_EQ(OrvikJson({"reserve"}, 0)["result"]["kiloBytes"], 96);

  // A set larger than the flash can ever hold says so.
  const std::string huge = CopySamples("huge");
  WriteFile(huge + "/resources.bin",
            std::string(66 << 20, 'r') + "Version" + std::string("\2\0\0\0\1\0\3\0", 8));
  ResealSet(huge + "/manifest.json");
  nlohmann::json tooLarge =
      OrvikJson({"--yes", "reflash", "--manifest", huge + "/manifest.json"}, 1);
  EXPECT_EQ(tooLarge["error"]["code"], "set-too-large");
  EXPECT_NE(tooLarge["error"]["message"].get<std::string>().find("more than a flash of type 7"),
            std::string::npos);
  // ... and the reservation command refuses what the flash cannot hold.
  nlohmann::json reserve = OrvikJson({"reserve", "82640"}, 64);
  EXPECT_NE(Action(reserve).find("Give 1 to 65456 KB"), std::string::npos) << Action(reserve);
}

TEST_F(ObservationsTest, O03O09CommandLineMistakesExit64NamingTheWord) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"card", "erase"}, "needs to be told what to erase"},
      {{"bogus"}, "\"bogus\" is not a command"},
      {{"sim", "bogus"}, "\"bogus\" is not a command (the commands are: create,"},
      {{"info", "--bogus"}, "--bogus"},
      {{"sim", "create", "--player", scratch_ + "/x", "--flash-type", "36"}, "3 to 35"},
      {{"sim", "create", "--player", scratch_ + "/x", "--flash-type", "1"}, "does not support"},
      {{"sim", "create", "--player", scratch_ + "/x", "--card-mib", "-4"}, "1 to 2048 MiB"},
      {{"sim", "create", "--player", scratch_ + "/x", "--bad-block-count", "5000"}, "0 to 4094"},
      {{"--instance", "100", "info"}, "100"},
  };
  for (const Case& mistake : cases) {
    ProgramRun run = Orvik(mistake.args);
    EXPECT_EQ(run.exitCode, 64) << mistake.args[0] << " " << run.err;
    EXPECT_NE(run.err.find(mistake.says), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(scratch_ + "/x/player.json"));
}

TEST_F(ObservationsTest, O05ReadOnlyCommandsNeverWriteTheReservation) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"versions", "--manifest", SampleManifest()},
        {"blocks", "--manifest", SampleManifest()},
        {"--dry-run", "reflash", "--manifest", SampleManifest()}}) {
    EXPECT_NE(Orvik(command).exitCode, 64);
    EXPECT_FALSE(fs::exists(player_ + "/registry.reg")) << command[0];
  }
  // Nor through a served player (whose setting lives in the user's folder).
  const std::string sockets = scratch_ + "/sockets";
  pid_t server = StartOrvik({"sim", "serve", "--device-dir", sockets}, scratch_ + "/serve.log");
  for (int tries = 0; tries < 500 && !fs::exists(sockets + "/TEMBROr0"); ++tries) usleep(10000);
  const std::map<std::string, std::string> env = {{"ORVIK_DEVICE_DIR", sockets},
                                                  {"XDG_CONFIG_HOME", scratch_ + "/config"}};
  EXPECT_EQ(Orvik({"--device", "versions", "--manifest", SampleManifest()}, env).exitCode, 0);
  EXPECT_FALSE(fs::exists(scratch_ + "/config/orvik/registry.reg"));
  EXPECT_EQ(StopProgram(server, SIGTERM), 0);
}

TEST_F(ObservationsTest, O06VersionsOnAPlayerWithoutASystemAreaAdvisesWhatRepairsIt) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  ProgramRun run = Orvik({"versions", "--manifest", SampleManifest()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("the player holds no firmware"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("run `orvik update"), std::string::npos);
  const std::vector<std::string> suggested = SuggestedCommands(run.out);
  ASSERT_FALSE(suggested.empty());
  EXPECT_EQ(suggested[0].rfind("orvik fix --manifest", 0), 0u);
  // Followed as printed, it leaves a healthy player.
  EXPECT_EQ(RunInTerminal(suggested[0], "y\n", {}).exitCode, 0);
  EXPECT_EQ(OrvikJson({"check", "--manifest", SampleManifest()}, 0)["result"]["healthy"], true);
}

TEST_F(ObservationsTest, O08AnErasedStoredVersionIsNone) {
  MakeReflashedPlayer();
  // The version words of file D (pages 2 to 5 of block 4034) read erased.
  std::string nand = ReadFile(player_ + "/nand.bin");
  for (uint64_t page = 2; page <= 5; ++page)
    nand.replace((4034 * 32 + page) * 528 + 512 + 6, 2, "\xFF\xFF");
  WriteFile(player_ + "/nand.bin", nand);
  nlohmann::json versions = OrvikJson({"versions", "--manifest", SampleManifest()}, 0);
  const nlohmann::json& d = versions["result"]["files"][1];
  EXPECT_EQ(d["tag"], "D");
  EXPECT_TRUE(d["storedVersion"].is_null());
  EXPECT_EQ(d["state"], "not on the player");
  ProgramRun human = Orvik({"versions", "--manifest", SampleManifest()});
  EXPECT_NE(human.out.find("3.1.0.21    none"), std::string::npos) << human.out;
  // A copy whose version words are missing is an update cut off: the
  // advice is the repair, as `orvik check` says.
  EXPECT_NE(human.out.find("version words of file D"), std::string::npos) << human.out;
  EXPECT_EQ(
      OrvikJson({"check", "--manifest", SampleManifest()}, 3)["result"]["problems"][0]["code"],
      "firmware-incomplete");
  EXPECT_EQ(human.out.find("65535"), std::string::npos);
}

TEST_F(ObservationsTest, O12TheSetMustMatchThePlayer) {
  MakeReflashedPlayer();
  const std::string before = ReadFile(player_ + "/nand.bin");
  const std::string onlyP = CopySamples("onlyP") + "/manifest.json";
  WriteFile(onlyP, R"({"lowAreaFile": 1, "totalKiloBytesReserved": 1024, "files": [
      {"tag": "P", "kind": "srec", "path": "player.srec", "prefix": "player.prefix"}]})");
  ResealSet(onlyP);
  nlohmann::json dropped = OrvikJson({"update", "--force", "--yes", "--manifest", onlyP}, 1);
  EXPECT_EQ(dropped["error"]["code"], "set-drops-files");
  EXPECT_EQ(dropped["error"]["details"]["tags"], nlohmann::json({"D", "R"}));
  EXPECT_TRUE(ReadFile(player_ + "/nand.bin") == before);
  // Dropping them is allowed when asked for by name.
  EXPECT_EQ(OrvikJson({"--yes", "update", "--force", "--manifest", onlyP, "--allow-removing", "D",
                       "--allow-removing", "R"},
                      0)["ok"],
            true);

  MakeReflashedPlayer();
  // The player starts from P; a set that lists D first would overwrite it.
  const std::string set = CopySamples("reordered");
  WriteFile(set + "/manifest.json", R"({"lowAreaFile": 2, "totalKiloBytesReserved": 1024, "files": [
      {"tag": "D", "kind": "srec", "path": "dsp.srec"},
      {"tag": "P", "kind": "srec", "path": "player.srec", "prefix": "player.prefix"},
      {"tag": "R", "kind": "raw", "path": "resources.bin"}]})");
  ResealSet(set + "/manifest.json");
  nlohmann::json reordered = OrvikJson({"update", "--manifest", set + "/manifest.json"}, 1);
  EXPECT_EQ(reordered["error"]["code"], "set-startup-file");

  // A key given twice means two things to two readers: refused.
  const std::string twice =
      Manifest("\"lowAreaFile\": 1", "\"lowAreaFile\": 1, \"lowAreaFile\": 2");
  nlohmann::json duplicate = OrvikJson({"versions", "--manifest", twice}, 1);
  EXPECT_EQ(duplicate["error"]["details"]["field"], "lowAreaFile");
}

TEST_F(ObservationsTest, O13HostileInputsAreRefusedBeforeThePlayerIsOpened) {
  const std::string set = CopySamples("hostile");
  const std::string manifest = set + "/manifest.json";
  const std::string good = ReadFile(manifest);
  fs::remove(manifest + ".sig");  // edited below
  ASSERT_EQ(mkfifo((set + "/fifo").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", set + "/zero");
  // A 4.4 GB file that takes no room: refused from its size, never read.
  WriteFile(set + "/huge.bin", "");
  fs::resize_file(set + "/huge.bin", 4400000000ull);
  WriteFile(set + "/no-end.srec", "S0030001FB\nS10600101234564D\n");
  WriteFile(set + "/s3.srec",
            "S0030001FB\nS10600101234564D\nS3080000001012345649\nS90B00000001000200030004EA\n");
  struct Case {
    std::string path, problem;
  };
  const Case cases[] = {
      {"/etc/passwd", "is an absolute path"},
      {"../../../../../../etc/passwd", "climbs out of the manifest's folder"},
      {"fifo", "not a regular file"},
      {"zero", "not a regular file"},  // a link to /dev/zero
      {"huge.bin", "larger than the largest flash"},
  };
  for (const Case& hostile : cases) {
    std::string text = good;
    text.replace(text.find("resources.bin"), 13, hostile.path);
    WriteFile(manifest, text);
    nlohmann::json refused = OrvikJson({"--yes", "reflash", "--manifest", manifest}, 1);
    EXPECT_NE(refused["error"].dump().find(hostile.problem), std::string::npos)
        << hostile.path << ": " << refused["error"].dump();
  }
  for (const char* srec : {"no-end.srec", "s3.srec"}) {
    std::string text = good;
    text.replace(text.find("dsp.srec"), 8, srec);
    WriteFile(manifest, text);
    ResealSet(manifest, false);  // as its maker would, so that the files' contents are judged
    EXPECT_EQ(OrvikJson({"--yes", "reflash", "--manifest", manifest}, 1)["error"]["code"],
              "firmware-file")
        << srec;
  }
  EXPECT_EQ(OrvikJson({"versions", "--manifest", set + "/fifo"}, 1)["error"]["code"], "manifest");
  EXPECT_FALSE(fs::exists(player_)) << "refused before the player was opened";

  // A player.json that the simulator did not write is not a default player.
  fs::create_directories(player_);
  WriteFile(player_ + "/player.json", "{}");
  EXPECT_EQ(OrvikJson({"info"}, 1)["error"]["code"], "player-unreadable");
}

TEST_F(ObservationsTest, O14StatesNeverContradictThemselves) {
  // The reflash cut off in its last step, after the firmware was written.
  ASSERT_EQ(Orvik({"sim", "create", "--power-cut-after", "8634"}).exitCode, 0);
  nlohmann::json cut = OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 1);
  const std::string state = cut["error"].value("playerState", std::string());
  EXPECT_FALSE(state.empty());
  EXPECT_FALSE(state.find("was written") != std::string::npos &&
               state.find("Nothing was written") != std::string::npos)
      << state;
}

// Every command any status text suggests is run exactly as printed, on a
// terminal that answers no; none may be a wrong command line.  The player's
// folder name holds a quote and a space.
TEST_F(ObservationsTest, O07EverySuggestedCommandRunsAsPrinted) {
  const std::string player = scratch_ + "/it's a player";
  ASSERT_EQ(Orvik({"--player", player, "sim", "create"}).exitCode, 0);
  ASSERT_EQ(
      Orvik({"--player", player, "--yes", "reflash", "--manifest", SampleManifest()}).exitCode, 0);
  std::vector<std::string> texts;
  // The words for every status of every operation.
  StatusContext words;
  words.manifestPath = SampleManifest();
  words.targetOptions = ShellJoin({"--player", player});
  words.commandLine = ShellJoin({"orvik", "--player", player, "info"});
  words.registryPath = player + "/registry.reg";
  words.reservedKiloBytes = 32;
  words.blockBytes = 16384;
  words.blocksNeeded = 5;
  for (int64_t found : {0, 6}) {
    words.systemBlocksFound = found;
    for (int operation = 0; operation <= static_cast<int>(MediaOperation::kEraseData); ++operation)
      for (int status : {1, 2, 3, 4, 6, 8, 9, 10, 11}) {
        Problem problem = ExplainStatus(static_cast<MediaOperation>(operation), status, words);
        texts.push_back(problem.action);
      }
  }
  // And the texts of the failures the tool explains itself.
  const std::vector<std::vector<std::string>> failing = {
      {"--player", player + "x", "info"},
      {"--player", player, "--recovery", "info"},
      {"--player", player, "--instance", "5", "info"},
      {"--player", player, "reflash", "--manifest", SampleManifest()},
      {"--player", player, "reflash", "--manifest", SampleManifest(), "--reserve", "32"},
  };
  for (const std::vector<std::string>& args : failing) {
    ProgramRun run = Orvik(args);
    texts.push_back(run.err);
  }
  ASSERT_EQ(Orvik({"--player", player, "reserve", "1024"}).exitCode, 2);
  texts.push_back(Orvik({"--player", player, "reserve", "32"}).out);
  texts.push_back(Orvik({"--player", player, "update", "--manifest", SampleManifest()}).err);

  std::set<std::string> commands;
  for (const std::string& text : texts)
    for (const std::string& command : SuggestedCommands(text)) commands.insert(command);
  EXPECT_GT(commands.size(), 10u);
  for (const std::string& command : commands) {
    ProgramRun run = RunInTerminal(command, "n\n", {});
    EXPECT_NE(run.exitCode, 64) << command << "\n" << run.out;
    EXPECT_NE(run.exitCode, 127) << command << "\n" << run.out;
  }
}

// Every command's --json document has the documented fields and only the
// documented words where a program would switch on them (docs/json-output.md).
TEST_F(ObservationsTest, JsonOutputMatchesItsDocumentation) {
  const std::string doc = ReadFile(std::string(ORVIK_SOURCE_DIR) + "/docs/json-output.md");
  // "| `name` | `a`, `b` |" rows: the command (or field) and its words.
  std::map<std::string, std::set<std::string>> rows;
  const std::regex row(R"(\n\| `([^|]+)` \| ([^\n]*) \|)");
  const std::regex word("`([^`]+)`");
  for (std::sregex_iterator it(doc.begin(), doc.end(), row); it != std::sregex_iterator(); ++it) {
    const std::string cells = (*it)[2];
    std::set<std::string> words;
    for (std::sregex_iterator w(cells.begin(), cells.end(), word); w != std::sregex_iterator(); ++w)
      words.insert((*w)[1]);
    rows[(*it)[1]] = words;
  }
  ASSERT_TRUE(rows.count("versions") && rows.count("error.code") && rows.count("files[].state"));

  MakeReflashedPlayer();
  const std::string signedCopy = CopySamples("signed") + "/manifest.json";
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{"info"}, 0},
      {{"blocks"}, 0},
      {{"versions", "--manifest", SampleManifest()}, 2},
      {{"check", "--manifest", SampleManifest()}, 0},
      {{"fix", "--manifest", SampleManifest()}, 2},
      {{"update", "--manifest", SampleManifest()}, 2},
      {{"--dry-run", "reflash", "--manifest", SampleManifest()}, 0},
      {{"verify", "--manifest", SampleManifest()}, 0},
      {{"backup", "--output", scratch_ + "/b.img"}, 0},
      {{"card", "info"}, 0},
      {{"reserve"}, 0},
      {{"sim", "inspect"}, 0},
      {{"quick-format"}, 64},
      {{"--player", scratch_ + "/none", "info"}, 1},
      {{"manifest", "verify", "--manifest", SampleManifest()}, 0},
      {{"manifest", "keygen", "--out", scratch_ + "/key"}, 0},
      {{"manifest", "sign", "--key", scratch_ + "/key.key", "--manifest", signedCopy}, 0},
      {{"manifest", "hash", "--manifest", signedCopy}, 0},
      {{"manifest", "verify", "--manifest", signedCopy}, 1},
      {{"history"}, 0},
  };
  for (const auto& [args, exit] : runs) {
    nlohmann::json document = OrvikJson(args, exit);
    std::set<std::string> top;
    for (const auto& [key, value] : document.items()) top.insert(key);
    EXPECT_EQ(top,
              (std::set<std::string>{"command", "ok", "exitCode", "target", "result", "error"}));
    const std::string command = document["command"];
    ASSERT_TRUE(rows.count(command)) << command << " is not documented";
    for (const auto& [key, value] : document["result"].items())
      EXPECT_TRUE(rows[command].count(key))
          << command << ": result." << key << " is not documented";
    if (!document["error"].is_null()) {
      EXPECT_TRUE(rows["error.code"].count(document["error"]["code"])) << document["error"]["code"];
    }
    if (!document["target"].is_null() && document["target"].contains("kind")) {
      EXPECT_TRUE(rows["target.kind"].count(document["target"]["kind"]));
    }
    if (document["result"].contains("firmwareSet")) {
      const nlohmann::json& set = document["result"]["firmwareSet"];
      EXPECT_TRUE(rows["firmwareSet.signature.state"].count(set["signature"]["state"]));
    }
    if (document["result"].contains("systemArea")) {
      EXPECT_TRUE(rows["systemArea"].count(document["result"]["systemArea"]));
    }
    for (const char* list : {"files", "before", "after"}) {
      const nlohmann::json& listed = document["result"].value(list, nlohmann::json());
      if (!listed.is_array() || command == "sim inspect" || command == "manifest hash") continue;
      for (const nlohmann::json& file : listed)
        EXPECT_TRUE(rows["files[].state"].count(file["state"])) << file.dump();
    }
  }
}

}  // namespace
}  // namespace orvik::tool::testing
