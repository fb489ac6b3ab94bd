// A failed open explains itself in failure lines: the names it tried and why
// each did not open; only with tracing on (ORVIK_DEBUG).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

namespace fs = std::filesystem;

// Sets (or, with nullptr, clears) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_.empty() ? ::unsetenv(name_) : ::setenv(name_, old_.c_str(), 1); }

 private:
  const char* name_;
  std::string old_;
};

class OpenReportTest : public LibraryTest {
 protected:
  void SetUp() override {
    os_.traceEnabled = true;
    dir_ = fs::temp_directory_path() / ("orvik-open-report-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A socket file nobody listens on: connecting to it is refused.
  void StaleSocket(const std::string& name) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = (dir_ / name).string();
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }

  fs::path dir_;
};

TEST_F(OpenReportTest, NamesEveryObjectTriedWithItsReason) {
  device_.State().refuseOpen = true;  // TEMBROr0 is registered but will not open
  StaleSocket("TEMBROr1");
  ScopedEnv dir("ORVIK_DEVICE_DIR", dir_.c_str());
  EXPECT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 0);
  EXPECT_EQ(os_.debugText,
            "orvik: open failed: \\\\.\\TEMBROr0: the device object refused the open\n"
            "orvik: open failed: \\\\.\\TEMBROr1: the socket " +
                (dir_ / "TEMBROr1").string() +
                " refused the connection: Connection refused\n"
                "orvik: open failed: \\\\.\\TEMBROr2 to \\\\.\\TEMBROr99: no socket device in "
                "ORVIK_DEVICE_DIR=" +
                dir_.string() + "\n");

  os_.debugText.clear();
  ScopedEnv noDir("ORVIK_DEVICE_DIR", nullptr);
  EXPECT_EQ(OrvikDDOpenDriver(3, 0, DEVICE_STATUS_RECOVERY), 0);
  EXPECT_EQ(os_.debugText,
            "orvik: open failed: \\\\.\\OrvikRecDevice3: no such device object in this process, "
            "and ORVIK_DEVICE_DIR is not set\n");
}

TEST_F(OpenReportTest, ASessionThatCannotBeSetUpSaysSoAndASuccessfulOpenSaysNothing) {
  os_.failCreateEvent = true;
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 0);
  EXPECT_EQ(os_.debugText,
            "orvik: open failed: \\\\.\\TEMBROr0: opened, but its completion event could not be "
            "created\n");
  os_.failCreateEvent = false;
  os_.debugText.clear();
  ScriptedDevice third("TEMBROr3");
  device_.State().refuseOpen = true;
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 1, DEVICE_STATUS_NORMAL), 1);  // after three failures
  EXPECT_EQ(os_.debugText, "");
}

// Through the platform's own seam: the report reaches standard error only
// when ORVIK_DEBUG is set (and not "0").
TEST(OpenReportOnThePlatform, ShownOnlyWithOrvikDebug) {
  ScriptedDevice refusing("TEMBROr0");
  refusing.State().refuseOpen = true;
  for (const char* debug : {static_cast<const char*>(nullptr), "0", "1"}) {
    ScopedEnv setting("ORVIK_DEBUG", debug);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 0);
    std::string shown = ::testing::internal::GetCapturedStderr();
    bool wanted = debug != nullptr && std::strcmp(debug, "1") == 0;
    EXPECT_EQ(shown, wanted ? "orvik: open failed: \\\\.\\TEMBROr0: the device object refused "
                              "the open\n"
                            : "")
        << "ORVIK_DEBUG=" << (debug == nullptr ? "(unset)" : debug);
  }
}

}  // namespace
}  // namespace orvik::testing
