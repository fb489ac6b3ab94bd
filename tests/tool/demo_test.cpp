// The main job (scripts/demo) run step by step as the README gives it, on
// the tool this build made.
#include <string>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class DemoTest : public ToolTest {};

TEST_F(DemoTest, ReflashesAFreshPlayerAndShowsWhatAPersonChecks) {
  const std::string script = std::string(ORVIK_SOURCE_DIR) + "/scripts/demo";
  ProgramRun run = RunProgram(
      "/bin/bash", {script, "--no-build", "--build-dir", ORVIK_BINARY_DIR, "--player", player_}, {},
      scratch_);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::string& out = run.out;

  // Every step ran, in order.
  size_t previous = 0;
  for (const char* step : {"== 1/5", "== 2/5", "== 3/5", "== 4/5", "== 5/5", "== Summary"}) {
    size_t at = out.find(step);
    ASSERT_NE(at, std::string::npos) << step << "\n" << out;
    EXPECT_GT(at, previous) << step;
    previous = at;
  }
  // The reflash went through every phase and finished.
  for (const char* phase : {"Scanning blocks", "Erasing", "Laying out system area",
                            "Writing firmware", "Writing file system"})
    EXPECT_NE(out.find(phase), std::string::npos) << phase;
  EXPECT_NE(out.find("Reflash done: system area laid out (64 system blocks from block 4032)"),
            std::string::npos);
  // The block map shows the CIS block, the low system blocks and the
  // reserved area with the three files.
  EXPECT_NE(out.find("     0 CPPS"), std::string::npos) << out;
  EXPECT_NE(out.find("PPDRRSSSS"), std::string::npos) << out;  // from block 4032
  EXPECT_NE(out.find("X bad (2)"), std::string::npos);
  // The stored versions are the files' versions: three rows up to date in
  // the reflash and three in the version listing.
  EXPECT_EQ(Occurrences(out, "up to date\n"), 6u) << out;
  EXPECT_NE(out.find("1.2.0.7     1.2.0.7"), std::string::npos);
  EXPECT_NE(out.find("The player's firmware is up to date."), std::string::npos);
  // mdir read the exported volume.
  EXPECT_NE(out.find("Directory for ::/"), std::string::npos) << out;
  EXPECT_NE(out.find("No files"), std::string::npos);
  EXPECT_NE(out.find("bytes free"), std::string::npos);
  EXPECT_NE(out.find("The player stays in " + player_), std::string::npos);
  // Nothing but the player folder was used for the reservation.
  EXPECT_NE(ReadFile(player_ + "/registry.reg").find("dword:00000400"), std::string::npos);
  EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace orvik::tool::testing
