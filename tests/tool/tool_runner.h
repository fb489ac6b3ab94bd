// Runs the built orvik program (and other programs) as a person would, in a
// scratch folder of its own, and captures what it prints.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvik::tool::testing {

struct ProgramRun {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error

  // Standard output as the one JSON document of --json (fails the test
  // when it is anything else).
  nlohmann::json Json() const;
};

// Runs program with args, its output captured in files under scratch.
// env replaces variables of this process's environment; the tool's own
// variables (ORVIK_*, NO_COLOR) are cleared first, and NO_COLOR is set.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& scratch);

// Runs a shell command line (as a person pastes it) on a terminal of its
// own, typing `answer` into it; out holds everything the terminal showed.
// The built orvik is first on PATH.
ProgramRun RunInTerminal(const std::string& line, const std::string& answer,
                         const std::map<std::string, std::string>& env);

// Every `orvik ...` command quoted in backticks in the text.
std::vector<std::string> SuggestedCommands(const std::string& text);

class ToolTest : public ::testing::Test {
 public:
  static std::string ReadFile(const std::string& path);
  static void WriteFile(const std::string& path, const std::string& content);

 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string ToolPath();
  static std::string SampleManifest();
  // orvik with the arguments, on the test's player (the default folder,
  // ORVIK_PLAYER) unless --player is given.
  ProgramRun Orvik(std::vector<std::string> args,
                   const std::map<std::string, std::string>& env = {});
  // orvik with --json added; checks that standard output is one document.
  nlohmann::json OrvikJson(std::vector<std::string> args, int expectedExit,
                           const std::map<std::string, std::string>& env = {});
  // orvik started beside the test (standard output into log); stopped by
  // its process id with StopProgram.
  pid_t StartOrvik(const std::vector<std::string>& args, const std::string& log,
                   const std::map<std::string, std::string>& env = {});
  // Sends the signal and waits: the exit code (128 + signal when killed).
  static int StopProgram(pid_t pid, int signal);
  // A simulated player in the test's folder holding the sample set and an
  // empty volume.
  void MakeReflashedPlayer();
  // Every file under the folder with its bytes.
  static std::map<std::string, std::string> FolderBytes(const std::string& folder);
  // The same for the test's player, without the folder's lock (which names
  // the last process that opened the player).
  std::map<std::string, std::string> PlayerBytes() const;
  // A copy of the sample firmware set in the scratch folder, to spoil.
  std::string CopySamples(const std::string& folder);
  // After a set's files or manifest were changed on purpose: its checksums
  // written again and the manifest signed with the sample test key, through
  // the tool, as the set's maker would (sign false: the signature dropped).
  void ResealSet(const std::string& manifest, bool sign = true);
  static std::string SampleTestKey();
  // A copy of the sample set in scratch_/folder whose raw file's version
  // trailer ends in `build` (the sample's is 3): a newer set from 4 up,
  // resealed and signed.  Returns its manifest.
  std::string NewerSampleSet(const std::string& folder, char build = 4);
  // The transfers of an update of the test's player to the set, counted
  // from the player's own trace (the player is put back as it was), and
  // the first erase of a reserved block among them: a cut right there
  // leaves the lone erased block that only a read tells from a reservation
  // raised by one.
  struct UpdateTransfers {
    uint64_t count = 0;
    uint64_t firstReservedErase = 0;
  };
  UpdateTransfers TraceUpdate(const std::string& manifest,
                              const std::map<std::string, std::string>& env = {});

  // The tool's configuration folder for the test (XDG_CONFIG_HOME): its
  // trust folder holds the sample test key, as an owner would install it.
  std::string configHome_;  // scratch_/config

  std::string scratch_;  // removed after the test
  std::string player_;   // scratch_/player
};

}  // namespace orvik::tool::testing
