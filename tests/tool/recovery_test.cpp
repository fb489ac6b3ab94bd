// The tool's advice, followed exactly as printed, recovers the player and
// keeps the user's files; backup and verify judged by the standard tools
// and by a damaged flash.
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "protocol/ecc.h"
#include "protocol/flash_commands.h"
#include "sim/inspect/block_map.h"
#include "sim/player.h"
#include "support/fat_tool_judge.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class RecoveryTest : public ToolTest {
 protected:
  // Puts files on the reflashed player's volume as a computer would: the
  // volume exported, the files copied in with mcopy, and every changed
  // sector written back into the flash page it maps to, with its ECC.
  void PutFilesOnTheVolume(const std::map<std::string, std::string>& files) {
    const std::string original = scratch_ + "/original.img", changed = scratch_ + "/changed.img";
    nlohmann::json exported = OrvikJson({"sim", "export-fat", "--out", original}, 0);
    const uint32_t start = exported["result"]["partitionStart"].get<uint32_t>();
    fs::copy_file(original, changed);
    for (const auto& [name, content] : files) {
      WriteFile(scratch_ + "/" + name, content);
      ASSERT_EQ(RunProgram("/usr/bin/mcopy", {"-i", changed, scratch_ + "/" + name, "::" + name},
                           {}, scratch_)
                    .exitCode,
                0);
    }
    const std::string before = ReadFile(original), after = ReadFile(changed);
    std::string why;
    std::shared_ptr<sim::Player> player = sim::Player::Load(player_, &why);
    ASSERT_NE(player, nullptr) << why;
    sim::inspect::BlockMap map = sim::inspect::MapBlocks(*player);
    const uint32_t pages = player->PagesPerBlock();
    auto write = [&](uint32_t physical, uint32_t logical, uint32_t page, const char* data) {
      sim::RawPage raw;
      raw.fill(0xFF);
      std::copy_n(data, 512, raw.begin());
      uint8_t* spare = raw.data() + 512;  // as the library's data pages carry it
      protocol::ComputeEcc256(raw.data(), spare + protocol::kSpareEccLow);
      protocol::ComputeEcc256(raw.data() + 256, spare + protocol::kSpareEccHigh);
      const uint16_t field = protocol::EncodeBlockAddress(logical);
      for (uint32_t at : {protocol::kSpareAddress1, protocol::kSpareAddress2}) {
        spare[at] = static_cast<uint8_t>(field & 0xFF);
        spare[at + 1] = static_cast<uint8_t>(field >> 8);
      }
      player->SetPageRaw(physical * pages + page, raw);
    };
    const std::string erased(512, '\xFF');
    uint32_t nextFree = 0;
    for (size_t sector = 0; sector * 512 < after.size(); ++sector) {
      if (after.compare(sector * 512, 512, before, sector * 512, 512) == 0) continue;
      const uint32_t logicalSector = static_cast<uint32_t>(start + sector);
      const uint32_t logical = logicalSector / pages;
      if (map.zone0.count(logical) == 0) {
        // A logical block the empty volume never used: a free block takes it.
        while (map.blocks[nextFree].role != sim::inspect::BlockRole::kFree) ++nextFree;
        map.zone0[logical] = nextFree++;
        write(map.zone0[logical], logical, 0, erased.data());
      }
      write(map.zone0[logical], logical, logicalSector % pages, after.data() + sector * 512);
    }
    ASSERT_TRUE(player->Save(player_, &why)) << why;
  }

  std::string ExportVolume(const std::string& name) {
    const std::string image = scratch_ + "/" + name;
    fs::remove(image);
    nlohmann::json exported = OrvikJson({"sim", "export-fat", "--out", image}, 0);
    EXPECT_EQ(exported["result"]["eccFindings"], 0) << "a page's ECC does not match";
    return ReadFile(image);
  }

  // A newer firmware set: the raw file's version trailer says 2.0.1.4.
  std::string NewerSet() { return NewerSampleSet("newer"); }
};

// Follows the advice after a failure: runs the first command it suggests,
// on a terminal that answers yes, until one succeeds or finds nothing left
// to do (at most three).
void FollowAdvice(const std::string& failure, const std::string& where) {
  std::string output = failure;
  for (int step = 0; step < 3; ++step) {
    const std::vector<std::string> suggested = SuggestedCommands(output);
    ASSERT_FALSE(suggested.empty()) << where << ": no command to follow in\n" << output;
    ProgramRun run = RunInTerminal(suggested.front(), "y\n", {});
    ASSERT_NE(run.exitCode, 64) << where << ": " << suggested.front() << "\n" << run.out;
    if (run.exitCode == 0 || run.exitCode == 2) return;
    output = run.out.substr(
        run.out.find("what to do:") == std::string::npos ? 0 : run.out.find("what to do:"));
  }
  FAIL() << where << ": the advice did not recover the player";
}

TEST_F(RecoveryTest, AnUpdateCutOffAnywhereIsRecoveredByTheToolsOwnAdvice) {
  MakeReflashedPlayer();
  PutFilesOnTheVolume(
      {{"NOTES.TXT", "kept across the update\n"}, {"SONG.RAW", std::string(40000, '\x5A')}});
  const std::string volume = ExportVolume("before.img");
  const std::string manifest = NewerSet();
  const std::string base = scratch_ + "/base";
  fs::copy(player_, base, fs::copy_options::recursive);

  const UpdateTransfers traced = TraceUpdate(manifest);
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
  EXPECT_EQ(OrvikJson({"backup", "--output", image}, 1)["error"]["code"], "backup-exists");

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
