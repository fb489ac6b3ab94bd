#include "tool/tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

bool ClearedVariable(const std::string& entry) {
  return entry.rfind("ORVIK_", 0) == 0 || entry.rfind("NO_COLOR=", 0) == 0 ||
         entry.rfind("XDG_CONFIG_HOME=", 0) == 0;
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
                      const std::map<std::string, std::string>& env, const std::string& scratch) {
  static int runs = 0;
  const std::string outPath = scratch + "/run" + std::to_string(++runs) + ".out";
  const std::string errPath = scratch + "/run" + std::to_string(runs) + ".err";

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!ClearedVariable(*entry)) environment.push_back(*entry);
  environment.push_back("NO_COLOR=1");
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
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  ProgramRun run;
  int status = 0;
  waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ToolTest::ReadFile(outPath);
  run.err = ToolTest::ReadFile(errPath);
  return run;
}

void ToolTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "orvik-tool-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  scratch_ = pattern;
  player_ = scratch_ + "/player";
  ASSERT_TRUE(fs::exists(ToolPath())) << "build the tool first: " << ToolPath();
}

void ToolTest::TearDown() {
  std::error_code error;
  fs::remove_all(scratch_, error);
}

std::string ToolTest::ToolPath() { return std::string(ORVIK_BINARY_DIR) + "/tools/orvik"; }

std::string ToolTest::SampleManifest() {
  return std::string(ORVIK_SOURCE_DIR) + "/samples/firmware/manifest.json";
}

ProgramRun ToolTest::Orvik(std::vector<std::string> args,
                           const std::map<std::string, std::string>& env) {
  // The test's player is the default folder, so that the first command
  // makes it as a first use would.
  std::map<std::string, std::string> environment = env;
  environment.emplace("ORVIK_PLAYER", player_);
  return RunProgram(ToolPath(), args, environment, scratch_);
}

nlohmann::json ToolTest::OrvikJson(std::vector<std::string> args, int expectedExit,
                                   const std::map<std::string, std::string>& env) {
  args.insert(args.begin(), "--json");
  ProgramRun run = Orvik(args, env);
  EXPECT_EQ(run.exitCode, expectedExit) << run.out << run.err;
  nlohmann::json document = run.Json();
  EXPECT_EQ(document.value("exitCode", -1), expectedExit);
  EXPECT_EQ(document.value("ok", expectedExit != 1), expectedExit != 1 && expectedExit != 64);
  return document;
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

std::string ToolTest::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ToolTest::WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace orvik::tool::testing
