// A player's folder holding something other than what the simulator wrote
// (a named pipe, a link to a device, a folder, a file of the wrong size) is
// refused at once, naming the file and what is wrong with it.  Every run
// has a time limit: a tool that blocks on a pipe or reads a device without
// end fails the test instead of hanging it.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

namespace fs = std::filesystem;

class PlayerFolderTest : public ToolTest {};

struct BadFile {
  const char* file;                               // in the player's folder
  std::function<void(const std::string&)> spoil;  // given the file's path
  std::vector<std::string> said;                  // in the error message
};

TEST_F(PlayerFolderTest, BadFolderFilesAreRefusedAtOnceNamingTheFile) {
  ASSERT_EQ(Orvik({"sim", "create"}).exitCode, 0);
  const std::string good = scratch_ + "/good";
  fs::copy(player_, good, fs::copy_options::recursive);
  const BadFile cases[] = {
      {"player.json",
       [](const std::string& p) {
         fs::remove(p);
         mkfifo(p.c_str(), 0600);
       },
       {"named pipe"}},
      {"player.json",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_symlink("/dev/zero", p);
       },
       {"/dev/zero", "character device"}},
      {"player.json",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       {"a folder"}},
      {"player.json",
       [](const std::string& p) { fs::resize_file(p, 2 << 20); },
       {"2097152 bytes", "at most 1048576"}},
      {"nand.bin",
       [](const std::string& p) {
         fs::remove(p);
         mkfifo(p.c_str(), 0600);
       },
       {"named pipe"}},
      {"nand.bin",
       [](const std::string& p) {
         fs::remove(p);
         fs::create_symlink("/dev/zero", p);
       },
       {"/dev/zero", "character device"}},
      {"nand.bin",
       [](const std::string& p) { fs::resize_file(p, 528 * 100); },
       {"52800 bytes", "69206016"}},
      {"nand.bin",
       [](const std::string& p) { fs::resize_file(p, fs::file_size(p) + 528); },
       {"69206544 bytes", "69206016"}},
      {"mmc.bin",
       [](const std::string& p) {
         fs::remove(p);
         mkfifo(p.c_str(), 0600);
       },
       {"named pipe"}},
      {"mmc.bin",
       [](const std::string& p) { fs::resize_file(p, 512 * 100); },
       {"51200 bytes", "33554432"}},
      {"mmc.bin", [](const std::string& p) { fs::remove(p); }, {"is missing"}},
  };
  for (const BadFile& bad : cases) {
    const std::string where = std::string(bad.file) + ": " + bad.said.front();
    fs::remove_all(player_);
    fs::copy(good, player_, fs::copy_options::recursive);
    bad.spoil(player_ + "/" + bad.file);
    ProgramRun run = Orvik({"--json", "info"}, {}, {.seconds = 20});
    ASSERT_FALSE(run.timedOut) << where << ": the tool hung";
    EXPECT_EQ(run.exitCode, 1) << where;
    nlohmann::json document = run.Json();
    EXPECT_EQ(document["error"]["code"], "player-unreadable") << where;
    const std::string message = document["error"].value("message", std::string());
    EXPECT_NE(message.find(player_ + "/" + bad.file), std::string::npos) << where << message;
    for (const std::string& said : bad.said)
      EXPECT_NE(message.find(said), std::string::npos) << where << ": " << message;
  }
}

}  // namespace
}  // namespace orvik::tool::testing
