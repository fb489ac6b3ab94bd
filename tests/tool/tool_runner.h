// Runs the built orvik program (and other programs) as a person would, in a
// scratch folder of its own, and captures what it prints.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvik::tool::testing {

struct ProgramRun {
  int exitCode = -1;
  std::string out;        // standard output
  std::string err;        // standard error
  bool timedOut = false;  // killed at the run's time limit
  long peakKiB = 0;       // the most memory the program held (its peak resident set)

  // Standard output as the one JSON document of --json (fails the test
  // when it is anything else).
  nlohmann::json Json() const;
};

// Limits a run is held to: a program that hangs is killed (the test fails
// instead of hanging), and a file size limit stands for a full disk.
struct RunLimits {
  int seconds = 0;         // 0: no time limit
  uint64_t fileBytes = 0;  // 0: no limit on the size of a file it writes
};

// Runs program with args, its output captured in files under scratch.
// env replaces variables of this process's environment; the tool's own
// variables (ORVIK_*, NO_COLOR) are cleared first, and NO_COLOR is set.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& scratch,
                      const RunLimits& limits = {});

// Runs a shell command line (as a person pastes it) on a terminal of its
// own, typing `answer` into it; out holds everything the terminal showed.
// The built orvik is first on PATH.
ProgramRun RunInTerminal(const std::string& line, const std::string& answer,
                         const std::map<std::string, std::string>& env);

// Every `orvik ...` command quoted in backticks in the text.
std::vector<std::string> SuggestedCommands(const std::string& text);

// Follows the advice after a failure: runs the first command it suggests,
// on a terminal that answers yes, until one succeeds or finds nothing left
// to do (at most three).
void FollowAdvice(const std::string& failure, const std::string& where);

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
                   const std::map<std::string, std::string>& env = {},
                   const RunLimits& limits = {});
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
  // createArgs: more options of `orvik sim create`.
  void MakeReflashedPlayer(const std::vector<std::string>& createArgs = {});
  // Every file under the folder with its bytes.
  static std::map<std::string, std::string> FolderBytes(const std::string& folder);
  // The same for the test's player, without the folder's lock (which names
  // the last process that opened the player).
  std::map<std::string, std::string> PlayerBytes() const;
  // Puts files on the player's volume as a computer would: the volume
  // exported (`orvik sim export-fat`), the files copied into the image with
  // mtools (a name may hold folders, "MUSIC/ALBUM/Track 1.raw": mmd makes
  // them), and the image written back (`orvik restore`).  Returns the
  // image that was restored.
  std::string PutFilesOnTheVolume(const std::map<std::string, std::string>& files);
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
  // The player's volume as `orvik sim export-fat` gives it (scratch_/name),
  // every page's ECC checked on the way.
  std::string ExportVolume(const std::string& name);
  // The transfers of an operation on the test's player (orvik with args),
  // counted from the player's own trace (the player is put back as it
  // was), and the first erase of a reserved block among them: in an update,
  // a cut right there leaves the lone erased block that only a read tells
  // from a reservation raised by one.
  struct Transfers {
    uint64_t count = 0;
    uint64_t firstReservedErase = 0;
    uint64_t firstLowErase = 0;  // of a low system block (the startup copy's)
    uint64_t firstErase = 0;     // of any block: nothing is written before it
  };
  Transfers TraceTransfers(std::vector<std::string> args,
                           const std::map<std::string, std::string>& env = {});
  Transfers TraceUpdate(const std::string& manifest,
                        const std::map<std::string, std::string>& env = {}) {
    return TraceTransfers({"update", "--manifest", manifest}, env);
  }

  // The tool's configuration folder for the test (XDG_CONFIG_HOME): its
  // trust folder holds the sample test key, as an owner would install it.
  std::string configHome_;  // scratch_/config

  std::string scratch_;  // removed after the test
  std::string player_;   // scratch_/player
};

}  // namespace orvik::tool::testing
