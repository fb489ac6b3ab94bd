// How a simulated player starts, as the tool shows it: every command plugs
// the player in, `sim info` and `sim replug` say how it came up and why, a
// served player is replugged by its server and reappears as the object
// that applies, and the bus timing is set beside the faults.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ToolTest {
 protected:
  // Erases a block of the player's flash on disk (type 7: 32 pages of 528
  // bytes), as a cut update leaves it.
  void EraseBlockOnDisk(uint32_t block) {
    const std::string nand = player_ + "/nand.bin";
    std::string flash = ReadFile(nand);
    flash.replace(size_t{block} * 32 * 528, 32 * 528, std::string(32 * 528, '\xFF'));
    WriteFile(nand, flash);
  }

  static std::string Text(const nlohmann::json& document, const char* field) {
    return document["error"].value(field, std::string());
  }
};

TEST_F(StartupTest, ReplugAndInfoSayHowThePlayerStartsAndWhy) {
  // A never-programmed player comes up as its recovery device.
  ProgramRun created = Orvik({"sim", "create", "--unprogrammed"});
  ASSERT_EQ(created.exitCode, 0) << created.err;
  EXPECT_NE(created.out.find("recovery device OrvikRecDevice0"), std::string::npos) << created.out;
  ProgramRun info = Orvik({"sim", "info"});
  EXPECT_NE(info.out.find("recovery: the low system blocks are not marked"), std::string::npos)
      << info.out;
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["deviceObject"], "OrvikRecDevice0");

  // A command finds it as its recovery object and says so; --recovery asks
  // for that object alone.
  ProgramRun found = Orvik({"info"});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_NE(found.out.find("does not start normally"), std::string::npos) << found.out;
  EXPECT_EQ(OrvikJson({"info"}, 0)["target"]["recovery"], true);
  EXPECT_EQ(OrvikJson({"--recovery", "info"}, 0)["ok"], true);

  // The full reflash through the recovery object writes a startup copy.
  ASSERT_EQ(OrvikJson({"--yes", "reflash", "--manifest", SampleManifest()}, 0)["ok"], true);
  ProgramRun replugged = Orvik({"sim", "replug"});
  EXPECT_NE(replugged.out.find("it starts normally (the startup copy is whole); its device "
                               "object is TEMBROr0"),
            std::string::npos)
      << replugged.out;

  // The first low block erased, as a cut update leaves it.
  EraseBlockOnDisk(1);
  nlohmann::json damaged = OrvikJson({"sim", "replug"}, 0);
  EXPECT_EQ(damaged["result"]["served"], false);
  EXPECT_EQ(damaged["result"]["deviceObject"], "OrvikRecDevice0");
  EXPECT_EQ(damaged["result"]["start"]["mode"], "recovery");
  EXPECT_EQ(damaged["result"]["start"]["reason"], "block 1 of the startup copy is erased");
  EXPECT_NE(Orvik({"sim", "info"}).out.find("recovery: block 1 of the startup copy is erased"),
            std::string::npos);
  // The versions in the reserved area still match, so only a forced update
  // rewrites the copy.
  ASSERT_EQ(OrvikJson({"--yes", "--recovery", "update", "--force", "--manifest", SampleManifest()},
                      0)["ok"],
            true);
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["start"]["reason"],
            "the startup copy is whole");
  EXPECT_EQ(OrvikJson({"versions", "--manifest", SampleManifest()}, 2)["result"]["upToDate"], true);
}

TEST_F(StartupTest, AServedPlayerReplugsAndReappearsAsTheRecoverySocket) {
  MakeReflashedPlayer();
  const std::string sockets = scratch_ + "/sockets";
  const std::string log = scratch_ + "/serve.out";
  const std::map<std::string, std::string> device = {{"ORVIK_DEVICE_DIR", sockets},
                                                     {"ORVIK_REGISTRY", scratch_ + "/device.reg"}};
  pid_t server = StartOrvik({"--player", player_, "sim", "serve", "--device-dir", sockets}, log);
  for (int tries = 0; tries < 500 && !fs::exists(sockets + "/TEMBROr0"); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(sockets + "/TEMBROr0")) << ReadFile(log);

  // Laid out anew without firmware through the socket: the startup copy is
  // gone, which the served player shows only once it is plugged in again.
  ASSERT_EQ(OrvikJson({"--device", "reserve", "1024"}, 0, device)["ok"], true);
  ASSERT_EQ(OrvikJson({"--yes", "--device", "full-format"}, 0, device)["ok"], true);
  ASSERT_TRUE(fs::exists(sockets + "/TEMBROr0"));
  nlohmann::json replug = OrvikJson({"sim", "replug", "--player", player_}, 0);
  EXPECT_EQ(replug["result"]["served"], true);
  EXPECT_EQ(replug["result"]["serverPid"], server);
  EXPECT_EQ(replug["result"]["deviceObject"], "OrvikRecDevice0");
  EXPECT_EQ(replug["result"]["socket"], sockets + "/OrvikRecDevice0");
  EXPECT_EQ(replug["result"]["start"]["mode"], "recovery");
  EXPECT_TRUE(fs::exists(sockets + "/OrvikRecDevice0"));
  EXPECT_FALSE(fs::exists(sockets + "/TEMBROr0"));
  EXPECT_EQ(OrvikJson({"--device", "info"}, 0, device)["target"]["recovery"], true);

  // The recovery socket takes the reflash; the next replug starts it.
  ASSERT_EQ(
      OrvikJson({"--yes", "--device", "reflash", "--manifest", SampleManifest()}, 0, device)["ok"],
      true);
  ProgramRun again = Orvik({"sim", "replug", "--player", player_});
  EXPECT_NE(again.out.find("starts normally (the startup copy is whole); served as TEMBROr0"),
            std::string::npos)
      << again.out << again.err;
  EXPECT_TRUE(fs::exists(sockets + "/TEMBROr0"));
  EXPECT_EQ(OrvikJson({"--device", "info"}, 0, device)["ok"], true);

  EXPECT_EQ(StopProgram(server, SIGTERM), 0);
  EXPECT_NE(ReadFile(log).find("Plugged in anew: the player came up as its recovery device"),
            std::string::npos)
      << ReadFile(log);
  // Not served any more: the replug is the command's own.
  EXPECT_EQ(OrvikJson({"sim", "replug", "--player", player_}, 0)["result"]["served"], false);
}

TEST_F(StartupTest, BusTimingIsSetBesideTheFaultsAndShown) {
  ASSERT_EQ(OrvikJson({"sim", "create", "--bus-timing", "full-speed"}, 0)["ok"], true);
  EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["busTiming"],
            "full-speed: 500 us a transfer, 1000 ns a byte, 1000 us a control request");
  EXPECT_EQ(OrvikJson({"sim", "faults", "--bus-byte-ns", "2000"}, 0)["result"]["busTiming"],
            "tuned: 500 us a transfer, 2000 ns a byte, 1000 us a control request");
  // --clear takes the faults back, not the bus.
  EXPECT_EQ(OrvikJson({"sim", "faults", "--clear"}, 0)["result"]["busTiming"],
            "tuned: 500 us a transfer, 2000 ns a byte, 1000 us a control request");
  EXPECT_EQ(OrvikJson({"sim", "faults", "--bus-timing", "off"}, 0)["result"]["busTiming"], "off");
  nlohmann::json settings = nlohmann::json::parse(ReadFile(player_ + "/player.json"));
  EXPECT_EQ(settings["bus"]["enabled"], false);
  EXPECT_EQ(settings["bus"]["byteNanos"], 2000);
  EXPECT_EQ(OrvikJson({"sim", "faults", "--bus-timing", "slow"}, 64)["ok"], false);
}

}  // namespace
}  // namespace orvik::tool::testing
