// `orvik --version`: the tool's version and the library's, for bug reports
// and for the manual page (help2man takes its first line).  It needs no
// command and touches no player.
#include <filesystem>
#include <string>

#include "orvik/posix.h"
#include "tool/tool_runner.h"

namespace orvik::tool::testing {
namespace {

class VersionTest : public ToolTest {};

TEST_F(VersionTest, NamesTheToolAndTheLibraryAndStopsThere) {
  const ORVIK_ULONG library = OrvikPosixLibraryVersion();
  const std::string libraryText = std::to_string(library >> 16) + "." +
                                  std::to_string((library >> 8) & 0xFFu) + "." +
                                  std::to_string(library & 0xFFu);
  // The library reports the version its headers were generated with.
  EXPECT_EQ(libraryText, ORVIK_VERSION);
  EXPECT_EQ(library, ORVIK_VERSION_NUMBER);

  for (const char* command : {"info", "reflash"}) {  // --version wins over a command
    ProgramRun run = Orvik({"--version", command});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, std::string("orvik ") + ORVIK_VERSION + "\nlibrary " + libraryText + "\n");
    EXPECT_EQ(run.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(player_));
}

TEST(VersionNumberTest, OrdersVersionsAsTheirParts) {
  EXPECT_EQ(ORVIK_VERSION_ENCODE(1, 0, 0), 0x010000u);
  EXPECT_LT(ORVIK_VERSION_ENCODE(1, 0, 255), ORVIK_VERSION_ENCODE(1, 1, 0));
  EXPECT_LT(ORVIK_VERSION_ENCODE(1, 255, 255), ORVIK_VERSION_ENCODE(2, 0, 0));
}

}  // namespace
}  // namespace orvik::tool::testing
