// One `orvik fix` repairs a player after any operation that changes it was
// cut off by a power cut or broken by a failed transfer: the player starts
// normally, `check` finds it healthy, `verify` passes, and what the
// operation does not own is as it was (the volume's files after an update
// or a card operation, the card's files after a flash operation).  A few
// points of each operation in every run; a dozen of each kind with the
// `sweep` label, one point of each operation in every run (a power cut or a
// failed transfer, in turn).
#include <filesystem>
#include <set>

#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

struct Operation {
  std::string name;
  std::vector<std::string> args;  // after `orvik --yes`; "{newer}" is the newer set
  bool keepsVolume;               // the volume's files stay
  bool keepsCard;                 // the card's files stay
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> kOperations = {
      {"update", {"update", "--manifest", "{newer}"}, true, true},
      {"reflash", {"reflash", "--manifest", "{sample}"}, false, true},
      {"full format", {"full-format", "--manifest", "{sample}"}, false, true},
      {"quick format", {"quick-format"}, false, true},
      {"erase-data", {"erase-data"}, false, true},
      {"card format", {"card", "format"}, true, false},
  };
  return kOperations;
}

class FixSweepTest : public ToolTest {
 protected:
  // The player every point starts from: the sample set, files on its
  // volume, a formatted card holding a file.
  void MakeFilledPlayer() {
    MakeReflashedPlayer({"--card-mib", "4"});  // a small card: every point copies it
    PutFilesOnTheVolume({{"MUSIC/ALBUM/SONG.RAW", std::string(70000, '\x5A')},
                         {"NOTES.TXT", "kept across every repair\n"}});
    ASSERT_EQ(Orvik({"--yes", "card", "format"}).exitCode, 0);
    // The card's one partition starts where its table says (mtools reads
    // it at that offset).
    const std::string card = player_ + "/mmc.bin";
    const std::string table = ReadFile(card).substr(0, 512);
    const uint32_t start = static_cast<uint8_t>(table[0x1C6]) |
                           static_cast<uint8_t>(table[0x1C7]) << 8 |
                           static_cast<uint8_t>(table[0x1C8]) << 16 |
                           static_cast<uint32_t>(static_cast<uint8_t>(table[0x1C9])) << 24;
    WriteFile(scratch_ + "/card-note.txt", "on the card\n");
    ASSERT_EQ(RunProgram("/usr/bin/mcopy",
                         {"-i", card + "@@" + std::to_string(uint64_t{start} * 512),
                          scratch_ + "/card-note.txt", "::CARDNOTE.TXT"},
                         {}, scratch_)
                  .exitCode,
              0);
  }

  std::vector<std::string> Args(const Operation& operation, const std::string& newer) {
    std::vector<std::string> args = {"--yes"};
    for (const std::string& arg : operation.args)
      args.push_back(arg == "{newer}" ? newer : arg == "{sample}" ? SampleManifest() : arg);
    return args;
  }
};

TEST_F(FixSweepTest, EveryOperationCutOffOrFailedIsRepairedByOneFix) {
  if (!orvik::testing::ToolAvailable("mcopy")) GTEST_SKIP() << "mtools is needed";
  MakeFilledPlayer();
  if (HasFatalFailure()) return;
  const std::string newer = NewerSampleSet("newer");
  const std::string base = scratch_ + "/base";
  fs::copy(player_, base, fs::copy_options::recursive);
  const std::string volume = ExportVolume("volume.img");
  const std::string card = ReadFile(player_ + "/mmc.bin");

  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  const bool sweep = full != nullptr && full[0] == '1';
  const uint64_t spread = sweep ? 12 : 1;
  std::vector<std::string> notRepaired;
  bool powerCutFirst = true;
  for (const Operation& operation : Operations()) {
    const std::vector<std::string> args = Args(operation, newer);
    const uint64_t transfers = TraceTransfers(args).count;
    ASSERT_GT(transfers, 2u) << operation.name;
    const std::string manifest = operation.name == "update" ? newer : SampleManifest();
    for (uint64_t i = 1; i <= spread; ++i) {
      // The power cuts and failed transfers fall on different points.
      const uint64_t cut = (2 * i - 1) * transfers / (2 * spread + 1);
      const uint64_t failed = 2 * i * transfers / (2 * spread + 1);
      std::vector<std::string> faults = {"--power-cut-after " + std::to_string(cut),
                                         "--fail-transfer " + std::to_string(failed) + ":error"};
      if (!sweep) faults.erase(faults.begin() + (powerCutFirst ? 1 : 0));
      powerCutFirst = !powerCutFirst;
      for (const std::string& fault : faults) {
        const std::string where = operation.name + " with " + fault;
        fs::remove_all(player_);
        fs::copy(base, player_, fs::copy_options::recursive);
        const size_t space = fault.find(' ');
        ASSERT_EQ(
            Orvik({"sim", "faults", fault.substr(0, space), fault.substr(space + 1)}).exitCode, 0);
        Orvik(args);  // cut off or failed (or, after its last write, done)
        ASSERT_EQ(Orvik({"sim", "faults", "--clear"}).exitCode, 0);

        ProgramRun fix = Orvik({"--yes", "fix", "--manifest", manifest});
        ProgramRun checked = Orvik({"--json", "check", "--manifest", manifest});
        const nlohmann::json check = checked.Json()["result"];
        ProgramRun verify = Orvik({"verify", "--manifest", manifest});
        const bool repaired = (fix.exitCode == 0 || fix.exitCode == 2) &&
                              check["healthy"] == true && check["starts"] == "normally" &&
                              verify.exitCode == 0;
        if (!repaired)
          notRepaired.push_back(where + ": fix " + std::to_string(fix.exitCode) + ", healthy " +
                                check["healthy"].dump() + ", starts " + check["starts"].dump() +
                                ", verify " + std::to_string(verify.exitCode) + "\n" + fix.out +
                                fix.err + verify.out + verify.err);
        if (operation.keepsVolume) {
          EXPECT_TRUE(ExportVolume("after.img") == volume) << where << ": the volume changed";
        }
        if (operation.keepsCard) {
          EXPECT_TRUE(ReadFile(player_ + "/mmc.bin") == card) << where << ": the card changed";
        }
      }
    }
  }
  std::string names;
  for (const std::string& point : notRepaired) names += point.substr(0, point.find('\n')) + "\n";
  EXPECT_TRUE(notRepaired.empty()) << notRepaired.size() << " points not repaired by one fix:\n"
                                   << names << "the first:\n"
                                   << notRepaired.front();
}

// verify judges the whole layout the set needs: after a reflash cut off at
// any point it fails while the firmware is not whole, and passes once it is.
TEST_F(FixSweepTest, VerifyFailsAfterACutReflashUnlessTheFirmwareIsWhole) {
  MakeReflashedPlayer({"--card-mib", "4"});
  const std::string base = scratch_ + "/base";
  fs::copy(player_, base, fs::copy_options::recursive);
  const std::vector<std::string> reflash = {"--yes", "reflash", "--manifest", SampleManifest()};
  const uint64_t transfers = TraceTransfers({"reflash", "--manifest", SampleManifest()}).count;
  ASSERT_GT(transfers, 10u);
  std::set<std::string> seen;
  for (uint64_t i = 1; i <= 7; ++i) {
    const uint64_t cut = i * transfers / 8;
    const std::string where = "reflash cut after transfer " + std::to_string(cut);
    fs::remove_all(player_);
    fs::copy(base, player_, fs::copy_options::recursive);
    ASSERT_EQ(Orvik({"sim", "faults", "--power-cut-after", std::to_string(cut)}).exitCode, 0);
    Orvik(reflash);
    ASSERT_EQ(Orvik({"sim", "faults", "--clear"}).exitCode, 0);
    ProgramRun checked = Orvik({"--json", "check", "--manifest", SampleManifest()});
    const std::string firmware = checked.Json()["result"]["firmware"].get<std::string>();
    seen.insert(firmware);
    const int verify = Orvik({"verify", "--manifest", SampleManifest()}).exitCode;
    EXPECT_EQ(verify == 0, firmware == "complete")
        << where << ": firmware " << firmware << ", verify exit " << verify;
  }
  EXPECT_GE(seen.size(), 2u) << "the cuts should leave whole and broken firmware alike";
}

// The cut an owner fears most: the update erased the startup copy and the
// player comes back only as its recovery device.
TEST_F(FixSweepTest, AStartupCopyCutOffIsRepairedByOneFixWithTheFilesKept) {
  MakeReflashedPlayer({"--card-mib", "4"});
  PutFilesOnTheVolume({{"NOTES.TXT", "kept across the repair\n"}});
  const std::string volume = ExportVolume("volume.img");
  const std::string newer = NewerSampleSet("newer");
  const uint64_t erase = TraceUpdate(newer).firstLowErase;
  ASSERT_GT(erase, 0u);
  ASSERT_EQ(Orvik({"sim", "faults", "--power-cut-after", std::to_string(erase + 1)}).exitCode, 0);
  ASSERT_NE(Orvik({"update", "--manifest", newer}).exitCode, 0);
  ASSERT_EQ(Orvik({"sim", "faults", "--clear"}).exitCode, 0);
  ASSERT_EQ(OrvikJson({"sim", "replug"}, 0)["result"]["deviceObject"], "OrvikRecDevice0");

  ProgramRun check = Orvik({"--json", "check", "--manifest", newer});
  EXPECT_EQ(check.exitCode, 3) << check.out;
  const nlohmann::json found = check.Json()["result"];
  EXPECT_EQ(found["starts"], "recovery") << found.dump(2);
  EXPECT_EQ(check.Json()["target"]["recovery"], true);

  ProgramRun fix = Orvik({"--yes", "fix", "--manifest", newer});
  EXPECT_EQ(fix.exitCode, 0) << fix.out << fix.err;
  ASSERT_EQ(Orvik({"sim", "replug"}).exitCode, 0);
  nlohmann::json info = OrvikJson({"info"}, 0);
  EXPECT_EQ(info["target"]["recovery"], false) << info.dump(2);
  EXPECT_EQ(OrvikJson({"check", "--manifest", newer}, 0)["result"]["healthy"], true);
  EXPECT_TRUE(ExportVolume("after.img") == volume) << "the files were not kept";
}

}  // namespace
}  // namespace orvik::tool::testing
