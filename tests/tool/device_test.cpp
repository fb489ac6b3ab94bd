// The device, card, reservation and simulated-player commands, through the
// built program, human and --json.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tool/tool_runner.h"

extern char** environ;

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class DeviceTest : public ToolTest {};

TEST_F(DeviceTest, InfoDescribesANewPlayer) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  ProgramRun human = Orvik({"info"});
  ASSERT_EQ(human.exitCode, 0) << human.err;
  EXPECT_NE(human.out.find("DCC version     0x101"), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("4096 blocks of 32 pages"), std::string::npos);
  EXPECT_NE(human.out.find("none configured"), std::string::npos);
  EXPECT_TRUE(fs::exists(player_ + "/player.json"));

  nlohmann::json info = OrvikJson({"info"}, 0);
  const nlohmann::json& result = info["result"];
  EXPECT_EQ(result["device"]["status"]["text"], "normal");
  EXPECT_EQ(result["device"]["dccVersion"], 0x101);
  EXPECT_EQ(result["device"]["chip"]["model"], 1002);
  EXPECT_EQ(result["device"]["userData"]["ownerFlag"], 1);
  EXPECT_EQ(result["flash"]["type"], 7);
  EXPECT_EQ(result["flash"]["blockCount"], 4096);
  EXPECT_EQ(result["flash"]["dataBytes"], 64 * 1024 * 1024);
  EXPECT_EQ(result["card"]["present"], true);
  EXPECT_EQ(result["card"]["capacityBlocks"], 65536);
  EXPECT_EQ(result["card"]["cid"]["product"], "SIMCRD");
  EXPECT_EQ(result["card"]["csd"]["capacityBytes"], 32 * 1024 * 1024);
  EXPECT_TRUE(result["reservation"]["kiloBytes"].is_null());
  // The simulated player's reservation lives in its folder.
  EXPECT_EQ(result["reservation"]["file"], player_ + "/registry.reg");
}

TEST_F(DeviceTest, CardBlocksRoundTripAndTheFormatIsReadable) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  std::string data(3 * 512 + 100, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 1);
  WriteFile(scratch_ + "/data.bin", data);
  // A file that is not whole blocks needs --pad.
  ProgramRun refused =
      Orvik({"--yes", "card", "write", "--block", "100", "--in", scratch_ + "/data.bin"});
  EXPECT_EQ(refused.exitCode, 64);
  EXPECT_NE(refused.err.find("not a whole number of 512-byte blocks"), std::string::npos);
  nlohmann::json written = OrvikJson(
      {"--yes", "card", "write", "--block", "100", "--pad", "--in", scratch_ + "/data.bin"}, 0);
  EXPECT_EQ(written["result"]["written"]["blocks"], 4);
  nlohmann::json read = OrvikJson(
      {"card", "read", "--block", "100", "--count", "4", "--out", scratch_ + "/back.bin"}, 0);
  EXPECT_EQ(read["result"]["read"]["blocks"], 4);
  std::string back = ReadFile(scratch_ + "/back.bin");
  ASSERT_EQ(back.size(), 4u * 512);
  EXPECT_EQ(back.substr(0, data.size()), data);
  EXPECT_EQ(back.substr(data.size()), std::string(4 * 512 - data.size(), '\0'));

  nlohmann::json erased =
      OrvikJson({"--yes", "card", "erase", "--block", "96", "--count", "32"}, 0);
  EXPECT_EQ(erased["result"]["erased"]["blocks"], 32);
  OrvikJson({"card", "read", "--block", "100", "--count", "1", "--out", scratch_ + "/gone.bin"}, 0);
  EXPECT_EQ(ReadFile(scratch_ + "/gone.bin"), std::string(512, '\0'));
  // Beyond the card's end.
  nlohmann::json beyond = OrvikJson(
      {"card", "read", "--block", "65530", "--count", "10", "--out", scratch_ + "/x.bin"}, 1);
  EXPECT_EQ(beyond["error"]["code"], "out-of-range");

  nlohmann::json format = OrvikJson({"--yes", "card", "format"}, 0);
  EXPECT_EQ(format["result"]["format"]["fat"], "FAT12");
  // The card image is a partitioned disk: its volume starts at block 1.
  ProgramRun listing =
      RunProgram("/usr/bin/mdir", {"-i", player_ + "/mmc.bin@@512", "::"}, {}, scratch_);
  EXPECT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_NE(listing.out.find("Directory for ::/"), std::string::npos) << listing.out;
  EXPECT_TRUE(OrvikJson({"--yes", "card", "erase", "--file-system"}, 0)["ok"].get<bool>());
  EXPECT_TRUE(OrvikJson({"--yes", "card", "erase", "--all"}, 0)["ok"].get<bool>());
  nlohmann::json info = OrvikJson({"card", "info"}, 0);
  EXPECT_EQ(info["result"]["card"]["eraseGroupBlocks"], 32);
}

TEST_F(DeviceTest, AnEmptySlotIsExplained) {
  ASSERT_EQ(Orvik({"sim", "create", "--no-card"}).exitCode, 0);
  nlohmann::json info = OrvikJson({"card", "info"}, 1);
  EXPECT_EQ(info["error"]["code"], "no-card");
  nlohmann::json player = OrvikJson({"info"}, 0);
  EXPECT_EQ(player["result"]["card"]["present"], false);
}

TEST_F(DeviceTest, ReservationIsWrittenAsARegistryExport) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  nlohmann::json none = OrvikJson({"reserve"}, 0);
  EXPECT_TRUE(none["result"]["kiloBytes"].is_null());
  nlohmann::json set = OrvikJson({"reserve", "1025"}, 0);
  EXPECT_EQ(set["result"]["kiloBytes"], 1025);
  const std::string file = ReadFile(player_ + "/registry.reg");
  EXPECT_EQ(file.rfind("REGEDIT4", 0), 0u);
  EXPECT_NE(file.find("\"TotalKiloBytesReserved\"=dword:00000401"), std::string::npos) << file;
  EXPECT_EQ(OrvikJson({"reserve", "1025"}, 2)["result"]["kiloBytes"], 1025);
  EXPECT_EQ(OrvikJson({"reserve", "--manifest", SampleManifest()}, 0)["result"]["kiloBytes"], 1024);
  // The library reads it: 1024 KB is 64 blocks of type 7.
  EXPECT_EQ(OrvikJson({"info"}, 0)["result"]["reservation"]["blocks"], 64);
  // ORVIK_REGISTRY wins over the player's folder.
  const std::string elsewhere = scratch_ + "/elsewhere.reg";
  OrvikJson({"reserve", "2048"}, 0, {{"ORVIK_REGISTRY", elsewhere}});
  EXPECT_NE(ReadFile(elsewhere).find("dword:00000800"), std::string::npos);
  EXPECT_TRUE(OrvikJson({"reserve", "--clear"}, 0)["result"]["kiloBytes"].is_null());
  EXPECT_FALSE(fs::exists(player_ + "/registry.reg"));
  EXPECT_EQ(OrvikJson({"reserve", "0"}, 64)["error"]["code"], "usage");
  // The library counts the reservation in bytes in 32 bits: 4 GB would wrap
  // to a reservation of 0, so it is refused.
  EXPECT_NE(
      OrvikJson({"reserve", "4194304"}, 64)["error"]["action"].get<std::string>().find("4194303"),
      std::string::npos);
}

TEST_F(DeviceTest, SimulatedPlayersAreCreatedWithTheirSettings) {
  nlohmann::json created = OrvikJson(
      {"sim", "create", "--flash-type", "5", "--bad-blocks", "5,900", "--card-mib", "16"}, 0);
  EXPECT_EQ(created["result"]["blockCount"], 2048);
  EXPECT_EQ(created["result"]["factoryBadBlocks"], nlohmann::json({5, 900}));
  EXPECT_EQ(created["result"]["card"], 16 * 2048);
  // A second create needs --force.
  EXPECT_EQ(OrvikJson({"sim", "create"}, 1)["error"]["code"], "player-exists");
  nlohmann::json blocks = OrvikJson({"blocks"}, 0);
  EXPECT_EQ(blocks["result"]["badBlocks"], nlohmann::json({5, 900}));
  EXPECT_EQ(blocks["result"]["flash"]["type"], 5);

  // Recovery mode: only the recovery object opens, and the tool finds the
  // player there, saying so.
  EXPECT_EQ(OrvikJson({"sim", "mode", "--recovery-mode"}, 0)["result"]["deviceObject"],
            "OrvikRecDevice0");
  ProgramRun found = Orvik({"info"});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_NE(found.out.find("does not start normally"), std::string::npos) << found.out;
  nlohmann::json viaRecovery = OrvikJson({"info"}, 0);
  EXPECT_EQ(viaRecovery["target"]["recovery"], true);
  EXPECT_EQ(viaRecovery["target"]["deviceObjectOpened"], "\\\\.\\OrvikRecDevice0");
  EXPECT_EQ(viaRecovery["result"]["device"]["status"]["text"], "recovery");
  nlohmann::json recovered =
      OrvikJson({"--yes", "--recovery", "reflash", "--manifest", SampleManifest()}, 0);
  EXPECT_EQ(recovered["target"]["recovery"], true);
  EXPECT_EQ(recovered["result"]["after"][0]["state"], "up to date");
  EXPECT_EQ(OrvikJson({"sim", "mode", "--normal-mode"}, 0)["result"]["recoveryMode"], false);
  EXPECT_EQ(OrvikJson({"versions", "--manifest", SampleManifest()}, 2)["result"]["upToDate"], true);
}

// One command line for simulated players: `orvik sim` offers every option,
// and orvik-sim is the same command line under the simulator's name.
TEST_F(DeviceTest, OrvikSimIsTheSimulatorCommandLineUnderItsOwnName) {
  const std::string alias = std::string(ORVIK_BINARY_DIR) + "/tools/orvik-sim";
  const ProgramRun help = Orvik({"sim", "--help"});
  ASSERT_EQ(help.exitCode, 0) << help.err;
  for (const char* option : {"--flash-type",
                             "--maker-code",
                             "--device-code",
                             "--bad-blocks",
                             "--bad-block-count",
                             "--card-mib",
                             "--card-blocks",
                             "--no-card",
                             "--dcc-version",
                             "--info-tag0",
                             "--info-tag2",
                             "--seed",
                             "--erase-fail",
                             "--weak-page",
                             "--bit-flip-probability",
                             "--fail-transfer",
                             "--power-cut-after",
                             "--card-fail",
                             "--reconfigure-refusals",
                             "--device-dir",
                             "--no-save",
                             "--clear",
                             "--recovery-mode",
                             "--normal-mode",
                             "--extract",
                             "--player"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(RunProgram(alias, {"--help"}, {}, scratch_).out, help.out);

  const ProgramRun created =
      RunProgram(alias,
                 {"create", "--player", player_, "--dcc-version", "0x100", "--maker-code", "0",
                  "--device-code", "16", "--card-blocks", "5000", "--bad-blocks", "9",
                  "--reconfigure-refusals", "2"},
                 {}, scratch_);
  ASSERT_EQ(created.exitCode, 0) << created.err;
  nlohmann::json settings = OrvikJson({"sim", "info"}, 0)["result"];
  EXPECT_EQ(settings["settings"]["firmware"]["dccVersion"], 0x100);
  EXPECT_EQ(settings["settings"]["flash"]["device"], 16);
  EXPECT_EQ(settings["typeFromCodes"], 7);
  EXPECT_EQ(settings["factoryBadBlocks"], nlohmann::json({9}));
  EXPECT_EQ(settings["pendingFaults"], 1);  // the reconfigure refusals
  // The library sees what the player was made with.
  nlohmann::json info = OrvikJson({"info"}, 0)["result"];
  EXPECT_EQ(info["device"]["dccVersion"], 0x100);
  EXPECT_EQ(info["card"]["capacityBlocks"], 5000);
  // --clear takes every fault back, the driver's refusals too.
  const ProgramRun cleared =
      RunProgram(alias, {"--json", "faults", "--player", player_, "--clear"}, {}, scratch_);
  ASSERT_EQ(cleared.exitCode, 0) << cleared.err;
  EXPECT_EQ(cleared.Json()["result"]["pendingFaults"], 0);
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["settings"]["driver"]["reconfigureRefusals"],
            0);
}

TEST_F(DeviceTest, AServedPlayerIsReachedAsADeviceObject) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  const std::string sockets = scratch_ + "/sockets";
  const std::string log = scratch_ + "/serve.out";
  // The server runs beside the test; it is stopped by its own process id.
  pid_t server =
      StartOrvik({"--json", "--player", player_, "sim", "serve", "--device-dir", sockets}, log);
  for (int tries = 0; tries < 500 && !fs::exists(sockets + "/TEMBROr0"); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(sockets + "/TEMBROr0")) << ReadFile(log);

  nlohmann::json info = OrvikJson({"--device", "info"}, 0, {{"ORVIK_DEVICE_DIR", sockets}});
  EXPECT_EQ(info["target"]["kind"], "device");
  EXPECT_EQ(info["result"]["flash"]["type"], 7);
  EXPECT_EQ(info["result"]["card"]["capacityBlocks"], 65536);
  nlohmann::json card =
      OrvikJson({"--yes", "--device", "card", "format"}, 0, {{"ORVIK_DEVICE_DIR", sockets}});
  EXPECT_EQ(card["result"]["format"]["fat"], "FAT12");

  EXPECT_EQ(StopProgram(server, SIGTERM), 0);
  // With --json the server says nothing until it stops, then one document.
  nlohmann::json served = nlohmann::json::parse(ReadFile(log));
  EXPECT_EQ(served["command"], "sim serve");
  EXPECT_EQ(served["result"]["socket"], sockets + "/TEMBROr0");
  EXPECT_EQ(served["result"]["saved"], true);
  // The served player was saved: its card now holds the formatted volume.
  ProgramRun listing =
      RunProgram("/usr/bin/mdir", {"-i", player_ + "/mmc.bin@@512", "::"}, {}, scratch_);
  EXPECT_EQ(listing.exitCode, 0) << listing.err;
}

}  // namespace
}  // namespace orvik::tool::testing
