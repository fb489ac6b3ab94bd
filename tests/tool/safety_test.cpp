// The tool is safe by default: destructive commands ask first (and refuse
// without a terminal), --dry-run changes nothing, one process works on a
// player folder at a time, Ctrl-C lets the running step end and says what
// is left, and the target is always named.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class SafetyTest : public ToolTest {
 protected:
  // The player's files as they are now, to show that nothing changed.
  std::string Snapshot() {
    return ReadFile(player_ + "/nand.bin") + ReadFile(player_ + "/mmc.bin") +
           ReadFile(player_ + "/registry.reg");
  }
  bool WaitFor(const std::string& path) {
    for (int tries = 0; tries < 500 && !fs::exists(path); ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
  }
  // Waits (at most 60 s, for slow sanitizer builds) until a file holds text.
  bool WaitForText(const std::string& path, const std::string& text) {
    for (int tries = 0; tries < 6000; ++tries) {
      if (ReadFile(path).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(SafetyTest, DestructiveCommandsAskRefuseWithoutATerminalAndDryRunChangesNothing) {
  MakeReflashedPlayer();
  WriteFile(scratch_ + "/blocks.bin", std::string(1024, 'x'));
  const std::string image = scratch_ + "/volume.img";
  ASSERT_EQ(Orvik({"backup", "--output", image}).exitCode, 0);
  const std::vector<std::vector<std::string>> commands = {
      {"reflash", "--manifest", SampleManifest()},
      {"reflash", "--keep-files", "--manifest", SampleManifest()},
      {"restore", "--input", image},
      {"full-format", "--manifest", SampleManifest()},
      {"quick-format"},
      {"erase-data"},
      {"update", "--force", "--manifest", SampleManifest()},
      {"card", "erase", "--all"},
      {"card", "format"},
      {"card", "write", "--block", "8", "--in", scratch_ + "/blocks.bin"},
  };
  const std::string before = Snapshot();
  for (const std::vector<std::string>& command : commands) {
    const std::string name = command.front();
    nlohmann::json refused = OrvikJson(command, 64);
    EXPECT_EQ(refused["error"]["code"], "confirmation-needed") << name;
    EXPECT_NE(refused["error"]["action"].get<std::string>().find("--yes"), std::string::npos);
    std::vector<std::string> dry = command;
    dry.insert(dry.begin(), "--dry-run");
    nlohmann::json plan = OrvikJson(dry, 0);
    EXPECT_FALSE(plan["result"]["dryRun"].is_null()) << name;
    ASSERT_TRUE(Snapshot() == before) << name << " changed the player";
  }
  // What empties the volume offers the backup, naming the target.
  ProgramRun human = Orvik({"reflash", "--manifest", SampleManifest()});
  EXPECT_NE(human.err.find("orvik backup --output player-backup.img --player " + player_),
            std::string::npos)
      << human.err;
  EXPECT_NE(human.out.find("Target: simulated player in " + player_), std::string::npos);

  // On a terminal the user is asked; anything but yes cancels.
  const std::string line = "orvik --player " + player_ + " quick-format";
  ProgramRun declined = RunInTerminal(line, "n\n", {});
  EXPECT_EQ(declined.exitCode, 1) << declined.out;
  EXPECT_NE(declined.out.find("every file on the player's volume"), std::string::npos);
  EXPECT_NE(declined.out.find("Cancelled: nothing was changed."), std::string::npos);
  EXPECT_TRUE(Snapshot() == before);
  ProgramRun agreed = RunInTerminal(line, "y\n", {});
  EXPECT_EQ(agreed.exitCode, 0) << agreed.out;
  EXPECT_NE(agreed.out.find("Quick format done"), std::string::npos);
}

// --dry-run changes nothing anywhere: every command that would change the
// player, its folder or a setting says what it would do and leaves every
// file of the folder byte for byte as it was; the commands it cannot apply
// to refuse it.
TEST_F(SafetyTest, DryRunLeavesEveryFileOfThePlayerFolderAsItWas) {
  MakeReflashedPlayer();
  WriteFile(scratch_ + "/blocks.bin", std::string(1024, 'x'));
  const std::string m = SampleManifest();
  const std::string image = scratch_ + "/volume.img";
  ASSERT_EQ(Orvik({"backup", "--output", image}).exitCode, 0);
  const std::vector<std::pair<std::vector<std::string>, int>> commands = {
      {{"reflash", "--manifest", m}, 0},
      {{"reflash", "--keep-files", "--manifest", m}, 0},
      {{"restore", "--input", image}, 0},
      {{"full-format", "--manifest", m}, 0},
      {{"full-format"}, 0},
      {{"quick-format"}, 0},
      {{"erase-data"}, 0},
      {{"update", "--force", "--manifest", m}, 0},
      {{"fix", "--manifest", m}, 2},
      {{"reserve", "2048"}, 0},
      {{"reserve", "--clear"}, 0},
      {{"card", "erase", "--all"}, 0},
      {{"card", "format"}, 0},
      {{"card", "write", "--block", "8", "--in", scratch_ + "/blocks.bin"}, 0},
      {{"sim", "create", "--force", "--flash-type", "5"}, 0},
      {{"sim", "faults", "--power-cut-after", "3"}, 0},
      {{"sim", "mode", "--recovery-mode"}, 0},
      {{"sim", "replug"}, 0},
      {{"sim", "serve"}, 64},
  };
  const std::map<std::string, std::string> before = PlayerBytes();
  for (const auto& [command, exit] : commands) {
    std::vector<std::string> dry = command;
    dry.insert(dry.begin(), "--dry-run");
    const nlohmann::json run = OrvikJson(dry, exit);
    if (exit == 0) {
      EXPECT_FALSE(run["result"]["dryRun"].is_null()) << dry[1];
    }
    EXPECT_TRUE(PlayerBytes() == before)
        << dry[1] << " " << (dry.size() > 2 ? dry[2] : "") << " changed the player's folder";
  }
}

TEST_F(SafetyTest, TwoProcessesOnOnePlayerFolder) {
  MakeReflashedPlayer();
  const std::string sockets = scratch_ + "/sockets";
  pid_t server = StartOrvik({"sim", "serve", "--device-dir", sockets}, scratch_ + "/serve.log");
  ASSERT_TRUE(WaitFor(sockets + "/TEMBROr0")) << ReadFile(scratch_ + "/serve.log.err");

  // The folder is the server's: a second process is refused, naming it.
  nlohmann::json busy = OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 1);
  EXPECT_EQ(busy["error"]["code"], "player-busy");
  EXPECT_EQ(busy["error"]["details"]["pid"], std::to_string(server));
  EXPECT_EQ(OrvikJson({"sim", "serve", "--device-dir", sockets}, 1)["error"]["code"],
            "player-busy");
  // Another player cannot take over the live socket of the same name.
  const std::string other = scratch_ + "/other";
  ASSERT_EQ(Orvik({"--player", other, "sim", "create"}).exitCode, 0);
  nlohmann::json taken = OrvikJson({"--player", other, "sim", "serve", "--device-dir", sockets}, 1);
  EXPECT_NE(taken["error"]["message"].get<std::string>().find("in use"), std::string::npos);
  // Through the server the player is reached as a device.
  nlohmann::json served = OrvikJson({"--device", "versions", "--manifest", SampleManifest()}, 2,
                                    {{"ORVIK_DEVICE_DIR", sockets}});
  EXPECT_EQ(served["target"]["kind"], "device");

  EXPECT_EQ(StopProgram(server, SIGTERM), 0);
  EXPECT_FALSE(fs::exists(sockets + "/TEMBROr0")) << "the server removes its socket";
  // Nothing was lost: the firmware is still there.
  EXPECT_EQ(OrvikJson({"versions", "--manifest", SampleManifest()}, 2)["result"]["upToDate"], true);
}

TEST_F(SafetyTest, CtrlCLetsTheRunningStepEndAndSaysWhatIsLeft) {
  // A late answer holds the reflash inside its erase step long enough to
  // press Ctrl-C there, however fast the build runs.
  ASSERT_EQ(Orvik({"sim", "create", "--fail-transfer", "300:late:2500"}).exitCode, 0);
  const std::string log = scratch_ + "/reflash.log";
  pid_t run = StartOrvik({"--yes", "reflash", "--manifest", SampleManifest()}, log);
  EXPECT_TRUE(WaitForText(log, "Erasing")) << ReadFile(log) << ReadFile(log + ".err");
  EXPECT_EQ(StopProgram(run, SIGINT), 130);
  const std::string err = ReadFile(log + ".err");
  EXPECT_NE(err.find("stopping after the running step"), std::string::npos) << err;
  EXPECT_NE(err.find("  player: "), std::string::npos) << err;
  EXPECT_NE(err.find("  what to do: "), std::string::npos) << err;
  EXPECT_FALSE(SuggestedCommands(err).empty()) << err;
}

TEST_F(SafetyTest, OutputClosedEarlyDoesNotCutTheReflashOff) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  // `head` leaves after the first byte; the reflash's later lines go to a
  // closed pipe, and the reflash must still end with the firmware written.
  ProgramRun piped = RunInTerminal("{ orvik --player " + player_ + " --yes reflash --manifest " +
                                       SampleManifest() + "; echo \" exit=$?\" >&2; } | head -c 1",
                                   "", {});
  EXPECT_NE(piped.out.find(" exit=0"), std::string::npos) << piped.out;
  EXPECT_EQ(OrvikJson({"versions", "--manifest", SampleManifest()}, 2)["result"]["upToDate"], true);
}

TEST_F(SafetyTest, TheAttachedPlayerIsTheDefaultAndAFolderIsNeverMadeByAccident) {
  const std::string typo = scratch_ + "/no/such/player";
  nlohmann::json missing = OrvikJson({"--player", typo, "info"}, 1);
  EXPECT_EQ(missing["error"]["code"], "no-player");
  EXPECT_NE(missing["error"]["action"].get<std::string>().find("orvik sim create --player " + typo),
            std::string::npos);
  EXPECT_FALSE(fs::exists(scratch_ + "/no"));
  // Without --player and $ORVIK_PLAYER the tool looks for the player attached
  // to the computer (here: none), says so, and makes no simulated player.
  const std::string sockets = scratch_ + "/sockets";
  fs::create_directories(sockets);
  for (const std::map<std::string, std::string>& env :
       {std::map<std::string, std::string>{{"ORVIK_PLAYER", ""}},
        std::map<std::string, std::string>{{"ORVIK_PLAYER", ""}, {"ORVIK_DEVICE_DIR", sockets}}}) {
    ProgramRun run = RunProgram(ToolPath(), {"--json", "info"}, env, scratch_);
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json error = run.Json()["error"];
    EXPECT_EQ(error["code"], "no-device") << error.dump();
    EXPECT_EQ(run.Json()["target"], nullptr);
    const std::string action = error["action"];
    EXPECT_NE(action.find("--player DIR"), std::string::npos) << action;
    EXPECT_NE(action.find("orvik sim create"), std::string::npos) << action;
  }
  EXPECT_FALSE(fs::exists(player_));
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  ProgramRun named = Orvik({"info"});
  EXPECT_EQ(named.out.rfind("Target: simulated player in " + player_ + "\n", 0), 0u) << named.out;
  nlohmann::json json = OrvikJson({"blocks", "--no-grid"}, 0);
  EXPECT_EQ(json["target"]["kind"], "simulator");
  EXPECT_EQ(json["target"]["player"], player_);
}

}  // namespace
}  // namespace orvik::tool::testing
