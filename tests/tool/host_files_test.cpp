// The files the tool writes and reads on the computer: an existing file is
// replaced only with --force, a cut-off or failed write leaves neither a
// short file nor a temporary one, and an input that never ends (or a pipe)
// is written in bounded memory.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class HostFilesTest : public ToolTest {
 protected:
  // Temporary files the tool left in a folder.
  static std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().filename().string().find(".orvik-") != std::string::npos)
        found.push_back(entry.path().string());
    return found;
  }
};

// Every command that writes a host file, with the file it writes.
struct Writer {
  const char* name;
  std::vector<std::string> args;  // "OUT" stands for the file's folder
  std::string file;               // relative to that folder
};

std::vector<std::string> WithFolder(std::vector<std::string> args, const std::string& folder) {
  for (std::string& arg : args)
    if (arg.rfind("OUT", 0) == 0) arg = folder + arg.substr(3);
  return args;
}

TEST_F(HostFilesTest, EveryCommandThatWritesAFileReplacesOneOnlyWithForce) {
  MakeReflashedPlayer();
  const Writer writers[] = {
      {"card read", {"card", "read", "--count", "4", "--out", "OUT/blocks.bin"}, "blocks.bin"},
      {"sim export-fat", {"sim", "export-fat", "--out", "OUT/volume.img"}, "volume.img"},
      {"sim files", {"sim", "files", "--extract", "OUT"}, "P-copy1.img"},
      {"backup", {"backup", "--output", "OUT/backup.img"}, "backup.img"},
  };
  const std::string old = "bytes a person kept\n";
  int number = 0;
  for (const Writer& writer : writers) {
    const std::string folder = scratch_ + "/writer-" + std::to_string(++number);
    const std::string file = folder + "/" + writer.file;
    fs::create_directories(folder);
    WriteFile(file, old);
    const std::vector<std::string> args = WithFolder(writer.args, folder);

    nlohmann::json refused = OrvikJson(args, 1);
    EXPECT_EQ(refused["error"]["code"], "file-exists") << writer.name;
    EXPECT_EQ(refused["error"]["details"]["file"], file) << writer.name;
    EXPECT_NE(refused["error"]["action"].get<std::string>().find("--force"), std::string::npos);
    EXPECT_EQ(ReadFile(file), old) << writer.name;

    std::vector<std::string> forced = args;
    forced.push_back("--force");
    std::vector<std::string> dryRun = forced;
    dryRun.insert(dryRun.begin(), "--dry-run");
    EXPECT_EQ(OrvikJson(dryRun, 0)["result"]["dryRun"], true) << writer.name;
    EXPECT_EQ(ReadFile(file), old) << writer.name << ": a dry run wrote the file";

    OrvikJson(forced, 0);
    const std::string written = ReadFile(file);
    EXPECT_NE(written, old) << writer.name;
    EXPECT_EQ(written.size() % 512, 0u) << writer.name;
    EXPECT_TRUE(Leftovers(folder).empty()) << writer.name;
  }
}

TEST_F(HostFilesTest, WhatIsNoRegularFileIsNeverReplaced) {
  MakeReflashedPlayer();
  const std::string folder = scratch_ + "/a-folder";
  fs::create_directories(folder);
  mkfifo((scratch_ + "/pipe").c_str(), 0600);
  for (const std::string& target : {folder, scratch_ + "/pipe"}) {
    nlohmann::json refused = OrvikJson({"sim", "export-fat", "--force", "--out", target}, 1);
    EXPECT_EQ(refused["error"]["code"], "not-a-file") << target;
  }
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HostFilesTest, AFullDiskLeavesNeitherAShortFileNorATemporaryOne) {
  MakeReflashedPlayer();
  const std::string image = scratch_ + "/volume.img";
  // Files beyond 4 MiB cannot be written: the 61.5 MiB image runs out of room.
  ProgramRun full = Orvik({"--json", "sim", "export-fat", "--out", image}, {},
                          {.seconds = 60, .fileBytes = 4 << 20});
  EXPECT_EQ(full.exitCode, 1) << full.out << full.err;
  nlohmann::json document = full.Json();
  EXPECT_EQ(document["error"]["code"], "io");
  EXPECT_NE(document["error"]["message"].get<std::string>().find(image), std::string::npos);
  EXPECT_FALSE(fs::exists(image));
  EXPECT_TRUE(Leftovers(scratch_).empty());
}

TEST_F(HostFilesTest, CtrlCDuringACardReadLeavesNoFile) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  // At a full-speed bus the whole card takes half a minute to read.
  ASSERT_EQ(Orvik({"sim", "faults", "--bus-timing", "full-speed"}).exitCode, 0);
  const std::string out = scratch_ + "/card.bin";
  const pid_t reading = StartOrvik({"card", "read", "--out", out}, scratch_ + "/read.log");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Leftovers(scratch_).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(Leftovers(scratch_).empty()) << "the read never started writing";
  EXPECT_EQ(StopProgram(reading, SIGINT), 130) << ReadFile(scratch_ + "/read.log.err");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_TRUE(Leftovers(scratch_).empty());
}

// Writes bytes into a named pipe from a thread until they are all sent or
// the test is done with it (the program under test may fail early).  The
// pipe is opened close-on-exec: the program is forked from this process,
// and a copy of the writing end inherited by it would keep its own input
// from ever ending (it hung whenever this thread opened the pipe before the
// fork, which a loaded machine made likely).
class PipeFeeder {
 public:
  PipeFeeder(const std::string& path, size_t bytes, uint8_t firstByte)
      : thread_([this, path, bytes, firstByte] {
          const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
          std::vector<uint8_t> chunk(64 * 1024, 0);
          chunk[0] = firstByte;
          for (size_t sent = 0; fd >= 0 && sent < bytes && !done_;) {
            pollfd ready{fd, POLLOUT, 0};
            if (poll(&ready, 1, 100) <= 0) continue;
            const ssize_t wrote = write(fd, chunk.data(), std::min(chunk.size(), bytes - sent));
            if (wrote > 0) sent += static_cast<size_t>(wrote);
            chunk[0] = 0;
          }
          if (fd >= 0) close(fd);
        }) {}
  ~PipeFeeder() {
    done_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST_F(HostFilesTest, EndlessOrPipedInputIsWrittenInBoundedMemory) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  const RunLimits limit{.seconds = 120};
  ProgramRun baseline = Orvik({"card", "info"}, {}, limit);
  ASSERT_EQ(baseline.exitCode, 0);
  // A few MiB over a small command's footprint, whatever the input's length.
  const long bound = baseline.peakKiB + 6 * 1024;

  ProgramRun endless =
      Orvik({"--json", "--yes", "card", "write", "--block", "100", "--in", "/dev/zero"}, {}, limit);
  EXPECT_FALSE(endless.timedOut);
  EXPECT_EQ(endless.exitCode, 1) << endless.out;
  nlohmann::json stopped = endless.Json();
  EXPECT_EQ(stopped["error"]["code"], "input-too-long");
  EXPECT_EQ(stopped["error"]["details"]["blocksWritten"], 65536 - 100);
  EXPECT_LT(endless.peakKiB, bound);

  const std::string pipe = scratch_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ProgramRun piped;
  {
    PipeFeeder feeder(pipe, 20 << 20, 0x5A);
    piped = Orvik({"--json", "--yes", "card", "write", "--block", "8", "--in", pipe}, {}, limit);
  }
  EXPECT_FALSE(piped.timedOut);
  ASSERT_EQ(piped.exitCode, 0) << piped.out << piped.err;
  EXPECT_EQ(piped.Json()["result"]["written"]["blocks"], (20 << 20) / 512);
  EXPECT_EQ(piped.Json()["result"]["written"]["stream"], true);
  EXPECT_LT(piped.peakKiB, bound);
  // What came through the pipe is on the card.
  ASSERT_EQ(
      Orvik({"card", "read", "--block", "8", "--count", "1", "--out", scratch_ + "/b"}).exitCode,
      0);
  EXPECT_EQ(ReadFile(scratch_ + "/b")[0], '\x5A');
  // Both writes changed the card: the journal holds them, newest first.
  std::vector<std::string> journaled;
  const nlohmann::json history = OrvikJson({"history"}, 0);
  for (const nlohmann::json& entry : history["result"]["entries"])
    journaled.push_back(entry.value("operation", "") + " " + entry.value("state", ""));
  EXPECT_EQ(journaled, (std::vector<std::string>{"card-write done", "card-write failed"}));
}

TEST_F(HostFilesTest, ARegularInputIsSizedBeforeAnythingIsSent) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  const std::string card = ReadFile(player_ + "/mmc.bin");
  WriteFile(scratch_ + "/eight.bin", std::string(8 * 512, 'e'));
  nlohmann::json beyond =
      OrvikJson({"--yes", "card", "write", "--block", "65530", "--in", scratch_ + "/eight.bin"}, 1);
  EXPECT_EQ(beyond["error"]["code"], "out-of-range");
  fs::create_directories(scratch_ + "/folder");
  EXPECT_EQ(OrvikJson({"--yes", "card", "write", "--in", scratch_ + "/folder"}, 1)["error"]["code"],
            "not-a-file");
  EXPECT_TRUE(ReadFile(player_ + "/mmc.bin") == card) << "a refused write changed the card";
}

}  // namespace
}  // namespace orvik::tool::testing
