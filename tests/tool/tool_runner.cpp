#include "tool/tool_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

extern char** environ;

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

bool ClearedVariable(const std::string& entry) {
  return entry.rfind("ORVIK_", 0) == 0 || entry.rfind("NO_COLOR=", 0) == 0 ||
         entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("XDG_STATE_HOME=", 0) == 0;
}

// The running test's configuration folder, given to every program it runs
// (the tool must not read the trust folder or settings of whoever runs the
// tests, nor write their journal).
std::string testConfigHome;
std::string testStateHome;

void AddTestFolders(std::vector<std::string>& environment,
                    const std::map<std::string, std::string>& env) {
  if (!testConfigHome.empty() && env.count("XDG_CONFIG_HOME") == 0)
    environment.push_back("XDG_CONFIG_HOME=" + testConfigHome);
  if (!testStateHome.empty() && env.count("XDG_STATE_HOME") == 0)
    environment.push_back("XDG_STATE_HOME=" + testStateHome);
}

// Waits for the child; with a time limit, kills it when the limit passes
// (false then).  usage gets the child's resources.
bool WaitWithin(pid_t child, int seconds, int* status, rusage* usage) {
  if (seconds <= 0) return wait4(child, status, 0, usage) == child;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (wait4(child, status, WNOHANG, usage) == child) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  wait4(child, status, 0, usage);
  return false;
}

}  // namespace

nlohmann::json ProgramRun::Json() const {
  try {
    return nlohmann::json::parse(out);
  } catch (const nlohmann::json::exception& failure) {
    ADD_FAILURE() << "standard output is not one JSON document: " << failure.what() << "\n"
                  << out << "\nstandard error:\n"
                  << err;
    return nlohmann::json();
  }
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& scratch,
                      const RunLimits& limits) {
  static int runs = 0;
  const std::string outPath = scratch + "/run" + std::to_string(++runs) + ".out";
  const std::string errPath = scratch + "/run" + std::to_string(runs) + ".err";

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!ClearedVariable(*entry)) environment.push_back(*entry);
  environment.push_back("NO_COLOR=1");
  AddTestFolders(environment, env);
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvStrings = {program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // Files a command names itself (fix's and reflash --keep-files' backups)
    // land in the test's own folder.
    if (chdir(scratch.c_str()) != 0) _exit(126);
    if (limits.fileBytes > 0) {
      const rlimit size{limits.fileBytes, limits.fileBytes};
      setrlimit(RLIMIT_FSIZE, &size);
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails as on a full disk
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  ProgramRun run;
  int status = 0;
  rusage usage{};
  run.timedOut = !WaitWithin(child, limits.seconds, &status, &usage);
  run.peakKiB = usage.ru_maxrss;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ToolTest::ReadFile(outPath);
  run.err = ToolTest::ReadFile(errPath);
  return run;
}

ProgramRun RunInTerminal(const std::string& line, const std::string& answer,
                         const std::map<std::string, std::string>& env) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!ClearedVariable(*entry) && std::string(*entry).rfind("PATH=", 0) != 0)
      environment.push_back(*entry);
  const char* path = std::getenv("PATH");
  environment.push_back("PATH=" + std::string(ORVIK_BINARY_DIR) + "/tools:" + (path ? path : ""));
  environment.push_back("NO_COLOR=1");
  AddTestFolders(environment, env);
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int terminal = -1;
  pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    execve("/bin/sh", const_cast<char**>(argv), envp.data());
    _exit(127);
  }
  ProgramRun run;
  if (child < 0) return run;
  if (!answer.empty()) (void)!write(terminal, answer.data(), answer.size());
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child side is closed
    run.out.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(terminal);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::vector<std::string> SuggestedCommands(const std::string& text) {
  std::vector<std::string> commands;
  for (size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open + 1)) {
    const size_t close = text.find('`', open + 1);
    if (close == std::string::npos) break;
    const std::string quoted = text.substr(open + 1, close - open - 1);
    if (quoted.rfind("orvik ", 0) == 0) commands.push_back(quoted);
    open = close;
  }
  return commands;
}

void ToolTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "orvik-tool-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  scratch_ = pattern;
  player_ = scratch_ + "/player";
  configHome_ = scratch_ + "/config";
  testConfigHome = configHome_;
  testStateHome = scratch_ + "/state";
  fs::create_directories(configHome_ + "/orvik/keys");
  fs::copy_file(std::string(ORVIK_SOURCE_DIR) + "/samples/keys/sample-test.pub",
                configHome_ + "/orvik/keys/sample-test.pub");
  ASSERT_TRUE(fs::exists(ToolPath())) << "build the tool first: " << ToolPath();
}

void ToolTest::TearDown() {
  testConfigHome.clear();
  testStateHome.clear();
  std::error_code error;
  fs::remove_all(scratch_, error);
}

std::string ToolTest::ToolPath() { return std::string(ORVIK_BINARY_DIR) + "/tools/orvik"; }

std::string ToolTest::SampleManifest() {
  return std::string(ORVIK_SOURCE_DIR) + "/samples/firmware/manifest.json";
}

ProgramRun ToolTest::Orvik(std::vector<std::string> args,
                           const std::map<std::string, std::string>& env, const RunLimits& limits) {
  // The test's player is the default folder, so that the first command
  // makes it as a first use would.
  std::map<std::string, std::string> environment = env;
  environment.emplace("ORVIK_PLAYER", player_);
  return RunProgram(ToolPath(), args, environment, scratch_, limits);
}

nlohmann::json ToolTest::OrvikJson(std::vector<std::string> args, int expectedExit,
                                   const std::map<std::string, std::string>& env) {
  args.insert(args.begin(), "--json");
  ProgramRun run = Orvik(args, env);
  EXPECT_EQ(run.exitCode, expectedExit) << run.out << run.err;
  nlohmann::json document = run.Json();
  EXPECT_EQ(document.value("exitCode", -1), expectedExit);
  // ok says that the command ran through: no error object.
  EXPECT_EQ(document.value("ok", false), document.value("error", nlohmann::json()).is_null());
  if (expectedExit == 0 || expectedExit == 2) {
    EXPECT_TRUE(document.value("ok", false));
  }
  return document;
}

pid_t ToolTest::StartOrvik(const std::vector<std::string>& args, const std::string& log,
                           const std::map<std::string, std::string>& env) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!ClearedVariable(*entry)) environment.push_back(*entry);
  environment.push_back("NO_COLOR=1");
  environment.push_back("ORVIK_PLAYER=" + player_);
  AddTestFolders(environment, env);
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvStrings = {ToolPath()};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (log + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argvStrings[0].c_str(), &actions, nullptr, argv.data(), envp.data()),
            0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ToolTest::StopProgram(pid_t pid, int signal) {
  if (signal != 0) kill(pid, signal);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ToolTest::MakeReflashedPlayer(const std::vector<std::string>& createArgs) {
  std::vector<std::string> create = {"sim", "create", "--force"};
  create.insert(create.end(), createArgs.begin(), createArgs.end());
  ASSERT_EQ(Orvik(create).exitCode, 0);
  ProgramRun reflash = Orvik({"--yes", "reflash", "--manifest", SampleManifest()});
  ASSERT_EQ(reflash.exitCode, 0) << reflash.err;
  // Unplugged and plugged in again, as after a reflash: from now on its
  // startup copy alone decides how it starts (a player as delivered
  // settles that at this first plug-in, in its player.json).
  ASSERT_EQ(Orvik({"sim", "replug"}).exitCode, 0);
}

std::map<std::string, std::string> ToolTest::FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path().string());
  return files;
}

std::map<std::string, std::string> ToolTest::PlayerBytes() const {
  std::map<std::string, std::string> files = FolderBytes(player_);
  files.erase(player_ + "/orvik.lock");
  return files;
}

std::string ToolTest::PutFilesOnTheVolume(const std::map<std::string, std::string>& files) {
  static int images = 0;
  const std::string image = scratch_ + "/volume-" + std::to_string(++images) + ".img";
  const std::string hostFiles = scratch_ + "/host-files-" + std::to_string(images);
  EXPECT_EQ(OrvikJson({"sim", "export-fat", "--out", image}, 0)["ok"], true);
  fs::create_directories(hostFiles);
  std::set<std::string> folders;
  int number = 0;
  for (const auto& [name, content] : files) {
    // Each folder on the way, once.
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      if (folders.insert(name.substr(0, slash)).second) {
        ProgramRun made = RunProgram(
            "/usr/bin/mmd", {"-D", "s", "-i", image, "::/" + name.substr(0, slash)}, {}, scratch_);
        EXPECT_EQ(made.exitCode, 0) << made.err;
      }
    const std::string host = hostFiles + "/" + std::to_string(++number);
    WriteFile(host, content);
    ProgramRun copied =
        RunProgram("/usr/bin/mcopy", {"-D", "o", "-i", image, host, "::/" + name}, {}, scratch_);
    EXPECT_EQ(copied.exitCode, 0) << name << ": " << copied.err;
  }
  EXPECT_EQ(OrvikJson({"--yes", "restore", "--input", image}, 0)["ok"], true);
  return image;
}

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

std::string ToolTest::CopySamples(const std::string& folder) {
  const std::string target = scratch_ + "/" + folder;
  fs::create_directories(target);
  for (const auto& entry :
       fs::directory_iterator(std::string(ORVIK_SOURCE_DIR) + "/samples/firmware"))
    fs::copy_file(entry.path(), target + "/" + entry.path().filename().string(),
                  fs::copy_options::overwrite_existing);
  return target;
}

std::string ToolTest::NewerSampleSet(const std::string& folder, char build) {
  const std::string set = CopySamples(folder);
  std::string raw = ReadFile(set + "/resources.bin");
  raw[raw.size() - 2] = build;
  WriteFile(set + "/resources.bin", raw);
  ResealSet(set + "/manifest.json");
  return set + "/manifest.json";
}

ToolTest::Transfers ToolTest::TraceTransfers(std::vector<std::string> args,
                                             const std::map<std::string, std::string>& env) {
  const std::string kept = scratch_ + "/before-trace";
  fs::remove_all(kept);
  fs::copy(player_, kept, fs::copy_options::recursive);
  args.insert(args.begin(), {"-v", "--yes"});
  ProgramRun traced = Orvik(args, env);
  EXPECT_EQ(traced.exitCode, 0) << traced.err;
  fs::remove_all(player_);
  fs::rename(kept, player_);
  Transfers transfers;
  const std::regex numbered("player: #(\\d+) \\S+ \\d+ \\[([^\\]]*)\\]");
  const std::regex reservedErase("flash erase block (\\d{3,})");
  const std::regex lowErase("flash erase block [1-9]");
  const std::regex anyErase("flash erase block \\d+");
  for (std::sregex_iterator it(traced.err.begin(), traced.err.end(), numbered);
       it != std::sregex_iterator(); ++it) {
    transfers.count = std::max<uint64_t>(transfers.count, std::stoull((*it)[1]));
    const std::string frame = (*it)[2];
    if (transfers.firstReservedErase == 0 && std::regex_match(frame, reservedErase))
      transfers.firstReservedErase = std::stoull((*it)[1]);
    if (transfers.firstLowErase == 0 && std::regex_match(frame, lowErase))
      transfers.firstLowErase = std::stoull((*it)[1]);
    if (transfers.firstErase == 0 && std::regex_match(frame, anyErase))
      transfers.firstErase = std::stoull((*it)[1]);
  }
  return transfers;
}

std::string ToolTest::ExportVolume(const std::string& name) {
  const std::string image = scratch_ + "/" + name;
  fs::remove(image);
  nlohmann::json exported = OrvikJson({"sim", "export-fat", "--out", image}, 0);
  EXPECT_EQ(exported["result"]["eccFindings"], 0) << "a page's ECC does not match";
  return ReadFile(image);
}

std::string ToolTest::SampleTestKey() {
  return std::string(ORVIK_SOURCE_DIR) + "/samples/keys/sample-test.key";
}

void ToolTest::ResealSet(const std::string& manifest, bool sign) {
  ProgramRun hashed = Orvik({"manifest", "hash", "--manifest", manifest});
  ASSERT_EQ(hashed.exitCode, 0) << hashed.out << hashed.err;
  if (!sign) {
    fs::remove(manifest + ".sig");
    return;
  }
  ProgramRun signed_ =
      Orvik({"manifest", "sign", "--key", SampleTestKey(), "--manifest", manifest});
  ASSERT_EQ(signed_.exitCode, 0) << signed_.out << signed_.err;
}

// Sized first: the tests read whole volume and flash images, which a growing
// string stream would copy again at every doubling.
std::string ToolTest::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

void ToolTest::WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace orvik::tool::testing
