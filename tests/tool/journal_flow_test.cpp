// The journal as the owner's history and as a witness, through the tool as
// a person runs it: a run of operations on one player is listed with its
// versions and outcomes, a tool killed in the middle leaves a journal that
// `orvik history` still reads, and the cut update the flash alone cannot
// place is finished because the journal remembers it.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class JournalFlowTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    env_ = {{"ORVIK_JOURNAL", scratch_ + "/journal.jsonl"}};
  }
  ProgramRun Run(std::vector<std::string> args) { return Orvik(std::move(args), env_); }
  nlohmann::json Entries() {
    ProgramRun run = Run({"--json", "history"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "") << "the journal reads without a warning";
    return run.Json()["result"]["entries"];
  }
  std::map<std::string, std::string> env_;
};

std::vector<std::string> Operations(const nlohmann::json& entries) {
  std::vector<std::string> operations;
  for (const nlohmann::json& entry : entries)
    operations.push_back(entry["operation"].get<std::string>() + " " +
                         entry["state"].get<std::string>());
  return operations;
}

TEST_F(JournalFlowTest, UpdatesACutUpdateItsFixAndAReflashKeepingTheFilesAreListed) {
  ASSERT_EQ(Run({"sim", "create"}).exitCode, 0);
  ASSERT_EQ(Run({"--yes", "reflash", "--manifest", SampleManifest()}).exitCode, 0);
  const std::string newer = NewerSampleSet("newer", 4), newest = NewerSampleSet("newest", 5);
  ASSERT_EQ(Run({"update", "--manifest", newer}).exitCode, 0);
  ASSERT_EQ(Run({"sim", "faults", "--power-cut-after", "400"}).exitCode, 0);
  ProgramRun cut = Run({"update", "--manifest", newest});
  ASSERT_NE(cut.exitCode, 0) << cut.out;
  ASSERT_EQ(Run({"sim", "faults", "--clear"}).exitCode, 0);
  ProgramRun fix = Run({"--yes", "fix", "--manifest", newest});
  ASSERT_EQ(fix.exitCode, 0) << fix.out << fix.err;

  // Newest first; the fix's own update is recorded inside the fix.
  const nlohmann::json entries = Entries();
  const std::vector<std::string> expected = {"update done", "fix done", "update failed",
                                             "update done", "reflash done"};
  ASSERT_EQ(Operations(entries), expected) << entries.dump(2);
  const nlohmann::json &repair = entries[0], &cutOff = entries[2], &first = entries[3],
                       &reflash = entries[4];
  EXPECT_EQ(reflash["end"]["versionsAfter"]["R"], "2.0.1.3");
  EXPECT_EQ(first["versionsBefore"]["R"], "2.0.1.3");
  EXPECT_EQ(first["end"]["versionsAfter"]["R"], "2.0.1.4");
  EXPECT_EQ(first["set"]["manifest"], newer);
  EXPECT_EQ(cutOff["versionsBefore"]["R"], "2.0.1.4");
  EXPECT_EQ(cutOff["set"]["manifest"], newest);
  EXPECT_NE(cutOff["end"]["message"], "") << cutOff.dump(2);
  EXPECT_EQ(repair["end"]["versionsAfter"]["R"], "2.0.1.5");
  EXPECT_EQ(repair["set"]["manifest"], newest);

  // A reflash that keeps the files names the backup it made before writing.
  ProgramRun kept = Run({"--yes", "reflash", "--keep-files", "--manifest", newest});
  ASSERT_EQ(kept.exitCode, 0) << kept.out << kept.err;
  const nlohmann::json reflashed = Entries()[0];
  EXPECT_EQ(reflashed["operation"].get<std::string>() + " " + reflashed["state"].get<std::string>(),
            "reflash done");
  EXPECT_EQ(reflashed["end"]["versionsAfter"]["R"], "2.0.1.5");
  EXPECT_TRUE(fs::is_regular_file(reflashed["backup"].get<std::string>())) << reflashed.dump(2);

  // A refused update wrote nothing: it is listed as such, and is no cut
  // update the next one could take for its own.
  ASSERT_EQ(Run({"--yes", "reserve", "2048"}).exitCode, 0);
  ASSERT_NE(Run({"--yes", "update", "--force", "--manifest", newest}).exitCode, 0);
  EXPECT_EQ(Entries()[0]["state"], "refused");
}

TEST_F(JournalFlowTest, AToolKilledInTheMiddleLeavesAJournalThatStillReads) {
  ASSERT_EQ(Run({"sim", "create"}).exitCode, 0);
  ASSERT_EQ(Run({"--yes", "reflash", "--manifest", SampleManifest()}).exitCode, 0);
  ASSERT_EQ(Run({"sim", "faults", "--bus-timing", "full-speed"}).exitCode, 0);
  const std::string newer = NewerSampleSet("newer");
  const std::string journal = env_["ORVIK_JOURNAL"];
  const size_t recordsBefore = Entries().size();

  // Killed once its start record is on the disk, and before its end: the
  // bus timing makes the update last seconds.
  const pid_t update = StartOrvik({"update", "--manifest", newer}, scratch_ + "/killed.log", env_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadFile(journal).find("\"operation\":\"update\"") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(StopProgram(update, SIGKILL), 128 + SIGKILL);

  nlohmann::json entries = Entries();
  ASSERT_EQ(entries.size(), recordsBefore + 1) << entries.dump(2);
  EXPECT_EQ(entries[0]["state"], "unfinished");
  for (size_t i = 1; i < entries.size(); ++i) EXPECT_EQ(entries[i]["state"], "done");

  // The next update finishes the job and has a record of its own.
  ASSERT_EQ(Run({"sim", "faults", "--bus-timing", "off"}).exitCode, 0);
  ProgramRun again = Run({"update", "--manifest", newer});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  entries = Entries();
  ASSERT_EQ(entries.size(), recordsBefore + 2);
  EXPECT_EQ(entries[0]["state"], "done");
  EXPECT_EQ(entries[1]["state"], "unfinished");
}

// The three cut points around the update's first erase of a reserved
// block, on each flash type the library identifies (3 to 35): the whole
// range with the `sweep` label, two in every run.
TEST_F(JournalFlowTest, OnEveryFlashTypeTheJournalFinishesTheCutUpdateTheFlashCannotPlace) {
  const char* full = std::getenv("ORVIK_FULL_SWEEPS");
  std::vector<int> types = {3, 7};
  if (full != nullptr && full[0] == '1') {
    types.clear();
    for (int type = 3; type <= 35; ++type) types.push_back(type);
  }
  const std::string newer = NewerSampleSet("newer");
  int typesSwept = 0;
  for (int type : types) {
    const std::string where = "flash type " + std::to_string(type);
    ASSERT_EQ(Run({"sim", "create", "--force", "--flash-type", std::to_string(type)}).exitCode, 0);
    if (Run({"--yes", "reflash", "--manifest", SampleManifest()}).exitCode != 0) continue;
    ++typesSwept;
    const std::string base = scratch_ + "/base";
    fs::remove_all(base);
    fs::copy(player_, base, fs::copy_options::recursive);
    const uint64_t erase = TraceUpdate(newer, env_).firstReservedErase;
    ASSERT_GT(erase, 0u) << where;

    for (uint64_t cut = erase; cut <= erase + 2; ++cut) {
      const std::string at = where + ", power cut after transfer " + std::to_string(cut);
      fs::remove_all(player_);
      fs::copy(base, player_, fs::copy_options::recursive);
      ASSERT_EQ(Run({"sim", "faults", "--power-cut-after", std::to_string(cut)}).exitCode, 0);
      ASSERT_NE(Run({"update", "--manifest", newer}).exitCode, 0) << at;
      ASSERT_EQ(Run({"sim", "faults", "--clear"}).exitCode, 0);
      const std::string cutPlayer = scratch_ + "/cut";
      fs::remove_all(cutPlayer);
      fs::copy(player_, cutPlayer, fs::copy_options::recursive);

      // No question is asked (there is no terminal to answer one).
      ProgramRun remembered = Run({"update", "--manifest", newer});
      EXPECT_EQ(remembered.exitCode, 0) << at << "\n" << remembered.out << remembered.err;
      EXPECT_NE(remembered.out.find("The journal shows an update of this player"),
                std::string::npos)
          << at << "\n"
          << remembered.out;

      // A journal without the record: the flash alone is judged, as before.
      ProgramRun judged = Orvik({"--player", cutPlayer, "update", "--manifest", newer},
                                {{"ORVIK_JOURNAL", scratch_ + "/empty.jsonl"}});
      EXPECT_EQ(judged.out.find("journal"), std::string::npos) << at << "\n" << judged.out;
      const bool finished =
          judged.out.find("was left erased by the update that was cut off") != std::string::npos;
      EXPECT_TRUE(finished ? judged.exitCode == 0
                           : judged.err.find("(status 9)") != std::string::npos)
          << at << "\n"
          << judged.out << judged.err;
      fs::remove(scratch_ + "/empty.jsonl");
    }
  }
  EXPECT_GE(typesSwept, 2);
}

}  // namespace
}  // namespace orvik::tool::testing
