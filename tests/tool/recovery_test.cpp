// The tool's advice, followed exactly as printed, recovers the player and
// keeps the user's files; backup and verify judged by the standard tools
// and by a damaged flash.
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class RecoveryTest : public ToolTest {
 protected:
  // A newer firmware set: the raw file's version trailer says 2.0.1.4.
  std::string NewerSet() { return NewerSampleSet("newer"); }
};

TEST_F(RecoveryTest, AnUpdateCutOffAnywhereIsRecoveredByTheToolsOwnAdvice) {
  MakeReflashedPlayer();
  PutFilesOnTheVolume(
      {{"NOTES.TXT", "kept across the update\n"}, {"SONG.RAW", std::string(40000, '\x5A')}});
  const std::string volume = ExportVolume("before.img");
  const std::string manifest = NewerSet();
  const std::string base = scratch_ + "/base";
  fs::copy(player_, base, fs::copy_options::recursive);

  const Transfers traced = TraceUpdate(manifest);
  const uint64_t transfers = traced.count, firstReservedErase = traced.firstReservedErase;
  ASSERT_GT(transfers, 100u);
  ASSERT_GT(firstReservedErase, 0u);

  // 60 cut points over the whole update with the `sweep` label, a few in
  // every test run; the erase frame, its answer and the next write always.
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  const uint64_t spread = full != nullptr && full[0] == '1' ? 60 : 5;
  std::set<uint64_t> cuts = {firstReservedErase, firstReservedErase + 1, firstReservedErase + 2};
  for (uint64_t i = 1; i <= spread; ++i) cuts.insert(i * transfers / (spread + 1));
  for (uint64_t cut : cuts) {
    const std::string where = "power cut after transfer " + std::to_string(cut);
    fs::remove_all(player_);
    fs::copy(base, player_, fs::copy_options::recursive);
    ASSERT_EQ(Orvik({"sim", "faults", "--power-cut-after", std::to_string(cut)}).exitCode, 0);
    ProgramRun cutOff = Orvik({"--player", player_, "update", "--manifest", manifest});
    // Cut off after its last write, the update says it is not confirmed
    // and names the check; cut off before, it fails and names the repair.
    if (cutOff.exitCode == 5) FollowAdvice(cutOff.out, where);
    if (cutOff.exitCode != 0 && cutOff.exitCode != 5) FollowAdvice(cutOff.err, where);
    if (HasFatalFailure()) return;
    nlohmann::json versions = OrvikJson({"versions", "--manifest", manifest}, 2);
    EXPECT_EQ(versions["result"]["upToDate"], true) << where;
    EXPECT_TRUE(ExportVolume("after.img") == volume) << where << ": the volume changed";
  }
}

TEST_F(RecoveryTest, BackupIsReadByTheStandardFatTools) {
  MakeReflashedPlayer();
  PutFilesOnTheVolume({{"NOTES.TXT", "a user's notes\n"}, {"DATA.BIN", std::string(9000, 'd')}});
  const std::string image = scratch_ + "/backup.img";
  nlohmann::json backup = OrvikJson({"backup", "--output", image}, 0);
  EXPECT_EQ(backup["result"]["file"], image);
  EXPECT_EQ(OrvikJson({"backup", "--output", image}, 1)["error"]["code"], "file-exists");

  ProgramRun listing = RunProgram("/usr/bin/mdir", {"-i", image, "::"}, {}, scratch_);
  EXPECT_NE(listing.out.find("NOTES    TXT"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("DATA     BIN"), std::string::npos) << listing.out;
  ProgramRun notes = RunProgram("/usr/bin/mtype", {"-i", image, "::NOTES.TXT"}, {}, scratch_);
  EXPECT_EQ(notes.out, "a user's notes\n");
  ASSERT_EQ(RunProgram("/usr/bin/mcopy", {"-i", image, "::DATA.BIN", scratch_ + "/back.bin"}, {},
                       scratch_)
                .exitCode,
            0);
  EXPECT_EQ(ReadFile(scratch_ + "/back.bin"), std::string(9000, 'd'));
  const orvik::testing::FsckReport fsck = orvik::testing::CheckWithFsck(image);
  EXPECT_TRUE(fsck.unexpectedLines.empty()) << fsck.output;
  EXPECT_EQ(fsck.files, 2u) << fsck.output;
}

TEST_F(RecoveryTest, VerifyFindsOneFlippedByteInAnySystemBlock) {
  MakeReflashedPlayer();
  EXPECT_EQ(OrvikJson({"verify", "--manifest", SampleManifest()}, 0)["result"]["blocksCompared"],
            67);
  const std::string nand = player_ + "/nand.bin", good = ReadFile(nand);
  struct Flip {
    uint32_t block, page, byte;
    const char* file;  // nullptr: a system block no file uses
  };
  // The startup copy in the low blocks, each file's copy in the reserved
  // area (first and last block), and an unused system block.
  const Flip flips[] = {{1, 0, 0, "P"},      {2, 31, 511, "P"},  {4032, 5, 17, "P"},
                        {4034, 3, 100, "D"}, {4036, 20, 3, "R"}, {4090, 7, 5, nullptr}};
  for (const Flip& flip : flips) {
    std::string damaged = good;
    damaged[(uint64_t{flip.block} * 32 + flip.page) * 528 + flip.byte] ^= 0x01;
    WriteFile(nand, damaged);
    // A flip in the low blocks spoils the startup copy: the player comes up
    // as its recovery device, and the tool finds it there.
    const bool startupCopy = flip.block <= 3;
    EXPECT_EQ(OrvikJson({"sim", "info"}, 0)["result"]["start"]["mode"],
              startupCopy ? "recovery" : "normal")
        << flip.block;
    nlohmann::json found = OrvikJson({"verify", "--manifest", SampleManifest()}, 3);
    EXPECT_EQ(found["target"]["recovery"], startupCopy);
    ASSERT_EQ(found["error"]["code"], "verify-mismatch") << flip.block;
    const nlohmann::json& differing = found["error"]["details"]["differingBlocks"];
    ASSERT_EQ(differing.size(), 1u) << differing.dump();
    EXPECT_EQ(differing[0]["block"], flip.block);
    EXPECT_EQ(differing[0]["page"], flip.page);
    EXPECT_EQ(differing[0]["offset"], flip.byte);
    EXPECT_EQ(differing[0]["file"], flip.file ? nlohmann::json(flip.file) : nlohmann::json());
  }
}

}  // namespace
}  // namespace orvik::tool::testing
