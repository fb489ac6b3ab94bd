// The journal's promises: a record cut off anywhere costs only itself, two
// processes appending at once never mix their records, bad lines are
// skipped with a warning, and `orvik history` shows each player's records.
#include "journal/journal.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "firmware_set/crypto.h"
#include "journal/set_record.h"
#include "tool/tool_runner.h"

namespace orvik::tool {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;

StartRecord Reflash(const std::string& player, const std::string& message = {}) {
  StartRecord record;
  record.target = {"simulator", player};
  record.operation = "reflash";
  record.set = JournalSet{"Sample player firmware 1.2",
                          "/sets/1.2/manifest.json",
                          std::string(64, 'a'),
                          {{"P", "player.srec", std::string(64, 'b'), std::string(64, 'c')}}};
  record.versionsBefore = {{"P", "1.2.0.6"}};
  record.reservationKiloBytes = 1024;
  record.message = message;
  return record;
}

EndRecord Done(const std::string& version) {
  EndRecord end;
  end.outcome = JournalOutcome::kDone;
  end.versionsAfter = {{"P", version}};
  return end;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orvik-journal-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/state/orvik/journal.jsonl";  // its folder made on first use
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Content() { return testing::ToolTest::ReadFile(path_); }
  void Replace(const std::string& content) { testing::ToolTest::WriteFile(path_, content); }

  std::string folder_, path_;
};

TEST_F(JournalTest, ACutAtAnyByteOfTheLastRecordLosesNoEarlierRecord) {
  JournalWriter writer(path_);
  const std::string first = writer.Start(Reflash("/players/a"));
  writer.Finish(first, Done("1.2.0.7"));
  const std::string second = writer.Start(Reflash("/players/b", "with \"quotes\", {braces}\n"));
  const size_t lastStarts = Content().size();
  EndRecord failed;
  failed.outcome = JournalOutcome::kFailed;
  failed.message = "The player did not answer }";
  writer.Finish(second, failed);
  const std::string whole = Content();
  ASSERT_EQ(whole.back(), '\n');

  for (size_t cut = lastStarts; cut <= whole.size(); ++cut) {
    Replace(whole.substr(0, cut));
    const JournalRead read = ReadJournal(path_);
    SCOPED_TRACE("cut at byte " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();
    ASSERT_EQ(read.entries.size(), 2u);
    const JournalEntry& done = read.entries[0];
    EXPECT_EQ(done.id, first);
    ASSERT_TRUE(done.end);
    EXPECT_EQ(done.end->outcome, JournalOutcome::kDone);
    EXPECT_EQ(done.end->versionsAfter.at("P"), "1.2.0.7");
    EXPECT_EQ(done.start.set->files[0].prefixSha256, std::string(64, 'c'));
    const JournalEntry& cutOff = read.entries[1];
    EXPECT_EQ(cutOff.start.message, "with \"quotes\", {braces}\n");
    // Only the end record whose every byte but the line end is there counts.
    const bool endComplete = cut >= whole.size() - 1;
    EXPECT_EQ(cutOff.Unfinished(), !endComplete);
    if (endComplete) {
      EXPECT_EQ(cutOff.end->message, "The player did not answer }");
    }
    EXPECT_EQ(read.tornLastLine, cut > lastStarts && !endComplete);
  }
}

TEST_F(JournalTest, ARecordAppendedAfterATornLineStandsOnItsOwnLine) {
  JournalWriter writer(path_);
  const std::string id = writer.Start(Reflash("/players/a"));
  const std::string whole = Content();
  Replace(whole + whole.substr(0, whole.size() / 2));  // a second start, torn
  writer.Finish(id, Done("1.2.0.7"));
  const JournalRead read = ReadJournal(path_);
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_FALSE(read.entries[0].Unfinished()) << Content();
  ASSERT_EQ(read.warnings.size(), 1u);
  EXPECT_NE(read.warnings[0].find("line 2: not a complete JSON object"), std::string::npos)
      << read.warnings[0];
}

TEST_F(JournalTest, BadLinesAreSkippedWithAWarningAndTheRestRead) {
  JournalWriter writer(path_);
  const std::string id = writer.Start(Reflash("/players/a"));
  const std::string start = Content();
  Replace(start + "garbage\n" + R"({"v":2,"type":"start","id":"x"})" + "\n" +
          R"({"v":1,"type":"end","id":"nobody","outcome":"done"})" + "\n" + start);
  writer.Finish(id, Done("1.2.0.7"));
  const JournalRead read = ReadJournal(path_);
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_FALSE(read.entries[0].Unfinished());
  const std::vector<std::string> expected = {
      "line 2: not a complete JSON object", "line 3: not a record of this journal's form",
      "line 4: the end of operation nobody", "line 5: a second start of operation " + id};
  ASSERT_EQ(read.warnings.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(read.warnings[i].rfind(expected[i], 0), 0u) << read.warnings[i];
  EXPECT_FALSE(ReadJournal(folder_ + "/none.jsonl").exists);
}

TEST_F(JournalTest, TwoProcessesAppendingAtOnceNeverMixTheirRecords) {
  constexpr int kRecords = 150;
  // Records of several kilobytes: a write split in two would show.
  const std::string bulk(6000, 'x');
  std::vector<pid_t> children;
  for (const char* player : {"/players/a", "/players/b"}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      JournalWriter writer(path_);
      for (int i = 0; i < kRecords; ++i) {
        const std::string id = writer.Start(Reflash(player, bulk));
        if (i % 2 == 0) writer.Finish(id, Done(std::to_string(i)));
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const JournalRead read = ReadJournal(path_);
  EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();
  EXPECT_FALSE(read.tornLastLine);
  ASSERT_EQ(read.entries.size(), 2u * kRecords);
  std::set<std::string> ids;
  for (const JournalEntry& entry : read.entries) {
    ids.insert(entry.id);
    EXPECT_EQ(entry.start.message, bulk);
  }
  EXPECT_EQ(ids.size(), 2u * kRecords);
  for (const char* player : {"/players/a", "/players/b"}) {
    EXPECT_EQ(FindUnfinished(read.entries, player).size(), size_t{kRecords / 2}) << player;
    EXPECT_EQ(FindUnfinished(read.entries, player, "update").size(), 0u) << player;
  }
}

// What the operations layer records of a set: the bytes it read, and the
// manifest they came from.
TEST(JournalSetTest, NamesTheManifestAndEveryFileByTheirChecksums) {
  TrustOptions trust;
  trust.trustDir = std::string(ORVIK_SOURCE_DIR) + "/samples/keys";
  const Manifest manifest =
      LoadManifest(std::string(ORVIK_SOURCE_DIR) + "/samples/firmware/manifest.json", trust);
  const JournalSet set = JournalSetOf(manifest);
  const std::string bytes = testing::ToolTest::ReadFile(manifest.path);
  EXPECT_EQ(set.sha256, Sha256Hex({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
  ASSERT_EQ(set.files.size(), manifest.files.size());
  for (size_t i = 0; i < set.files.size(); ++i) {
    EXPECT_EQ(set.files[i].sha256, manifest.files[i].sha256) << set.files[i].path;
    EXPECT_EQ(set.files[i].prefixSha256, manifest.files[i].prefixSha256) << set.files[i].path;
  }
  EXPECT_EQ(set.files[0].tag, "P");
}

class HistoryTest : public testing::ToolTest {};

TEST_F(HistoryTest, ShowsThisPlayersOperationsNewestFirstAndWhichAreUnfinished) {
  const std::string journal = scratch_ + "/journal.jsonl";
  const std::map<std::string, std::string> env = {{"ORVIK_JOURNAL", journal}};
  ProgramRun empty = Orvik({"history"}, env);
  ASSERT_EQ(empty.exitCode, 0) << empty.err;
  EXPECT_NE(empty.out.find("there is no journal yet"), std::string::npos) << empty.out;
  EXPECT_FALSE(fs::exists(player_)) << "reading the history makes no player";

  JournalWriter writer(journal);
  // The player as the journal names it: written as "player/" here, the
  // same folder as the tool's.
  const std::string mine = SimulatedPlayerTarget(player_ + "/").player;
  StartRecord reflash = Reflash(mine);
  const std::string first = writer.Start(reflash);
  writer.Finish(first, Done("1.2.0.7"));
  writer.Start(Reflash(scratch_ + "/other"));
  StartRecord update = Reflash(mine);
  update.operation = "update";
  update.versionsBefore = {{"P", "1.2.0.7"}};
  const std::string cut = writer.Start(update);

  nlohmann::json document = OrvikJson({"history"}, 0, env);
  const nlohmann::json& entries = document["result"]["entries"];
  ASSERT_EQ(entries.size(), 2u) << document.dump(2);
  EXPECT_EQ(entries[0]["id"], cut);
  EXPECT_EQ(entries[0]["state"], "unfinished");
  EXPECT_TRUE(entries[0]["end"].is_null());
  EXPECT_EQ(entries[1]["id"], first);
  EXPECT_EQ(entries[1]["state"], "done");
  EXPECT_EQ(entries[1]["end"]["versionsAfter"]["P"], "1.2.0.7");
  EXPECT_EQ(entries[1]["set"]["sha256"], std::string(64, 'a'));
  EXPECT_EQ(document["result"]["unfinished"], 1);
  EXPECT_EQ(document["result"]["player"], mine);

  ProgramRun human = Orvik({"history"}, env);
  ASSERT_EQ(human.exitCode, 0) << human.err;
  EXPECT_EQ(human.out.rfind("Target: simulated player in " + player_, 0), 0u) << human.out;
  EXPECT_NE(human.out.find("2 operations on this player"), std::string::npos) << human.out;
  EXPECT_NE(human.out.find("(1 unfinished)"), std::string::npos);
  const size_t newest = human.out.find("update       UNFINISHED");
  const size_t older = human.out.find("reflash      done");
  EXPECT_NE(newest, std::string::npos) << human.out;
  EXPECT_LT(newest, older) << human.out;
  EXPECT_NE(human.out.find("P 1.2.0.6 -> 1.2.0.7"), std::string::npos) << human.out;
  EXPECT_EQ(human.out.find(scratch_ + "/other"), std::string::npos);

  nlohmann::json all = OrvikJson({"history", "--all"}, 0, env);
  EXPECT_EQ(all["result"]["entries"].size(), 3u);
  EXPECT_TRUE(all["result"]["player"].is_null());

  // A torn last record is not a warning; a bad line in the middle is.
  WriteFile(journal, ReadFile(journal) + "{\"v\":1,\"ty");
  ProgramRun torn = Orvik({"history"}, env);
  EXPECT_EQ(torn.err, "");
  WriteFile(journal, "oops\n" + ReadFile(journal));
  ProgramRun bad = Orvik({"history"}, env);
  EXPECT_NE(bad.err.find("journal line 1: not a complete JSON object (skipped)"), std::string::npos)
      << bad.err;
  EXPECT_NE(bad.out.find("2 operations on this player"), std::string::npos);
}

}  // namespace
}  // namespace orvik::tool
