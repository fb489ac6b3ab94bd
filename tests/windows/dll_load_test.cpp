// orvik.dll as a host loads it: the load entry point succeeds, the exports
// resolve by their plain names only, and calls through them use the C
// calling convention.  (scripts/windows/check_exports.sh compares the whole
// export table with orvik.h.)
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "orvik/orvik.h"

namespace orvik::testing {
namespace {

// The DLL's path in the build, as Wine sees it (drive Z: is the root).
std::string DllPath() {
  std::string path = ORVIK_DLL_PATH;
  if (!path.empty() && path[0] == '/') {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path = "Z:" + path;
  }
  return path;
}

std::set<std::string> DeclaredNames() {
  std::ifstream header(std::string(ORVIK_SOURCE_DIR) + "/include/orvik/orvik.h");
  std::stringstream text;
  text << header.rdbuf();
  std::string content = text.str();
  std::set<std::string> names;
  std::regex declaration("ORVIK_CALL \\*?(Orvik[A-Za-z0-9_]+)\\(");
  for (std::sregex_iterator it(content.begin(), content.end(), declaration), end; it != end; ++it)
    names.insert((*it)[1]);
  return names;
}

class Dll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(DllPath().c_str());
    ASSERT_NE(module_, nullptr) << DllPath() << " error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  template <typename Function>
  Function Find(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  HMODULE module_ = nullptr;
};

TEST_F(Dll, ExportsResolveByPlainNameOnly) {
  std::set<std::string> declared = DeclaredNames();
  ASSERT_EQ(declared.size(), 50u);
  size_t found = 0;
  for (const std::string& name : declared) {
    if (GetProcAddress(module_, name.c_str()) != nullptr) ++found;
    EXPECT_EQ(GetProcAddress(module_, ("_" + name).c_str()), nullptr) << name;
  }
  EXPECT_GT(found, 0u);
  EXPECT_EQ(GetProcAddress(module_, "OrvikSetPhase@16"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

TEST_F(Dll, CallsGoThroughWithTheCCallingConvention) {
  using SetPhase = int(__cdecl*)(ORVIK_ULONG, double, void*);
  using GetProgress = int(__cdecl*)(double*, ORVIK_ULONG*);
  using SetProgress = int(__cdecl*)(double);
  auto setPhase = Find<SetPhase>("OrvikSetPhase");
  auto getProgress = Find<GetProgress>("OrvikGetProgress");
  auto setProgress = Find<SetProgress>("OrvikSetProgress");
  ASSERT_NE(setPhase, nullptr);
  ASSERT_NE(getProgress, nullptr);
  ASSERT_NE(setProgress, nullptr);
  EXPECT_EQ(setPhase(4, 0.0, nullptr), 1);
  EXPECT_EQ(setProgress(12.5), 1);
  double percent = 0;
  ORVIK_ULONG phase = 0;
  EXPECT_EQ(getProgress(&percent, &phase), 1);
  EXPECT_EQ(phase, 4u);
  EXPECT_EQ(percent, 12.5);

  // No session is open in the DLL: its close reports that.
  using CloseDriver = int(__cdecl*)();
  auto closeDriver = Find<CloseDriver>("OrvikDDCloseDriver");
  ASSERT_NE(closeDriver, nullptr);
  EXPECT_EQ(closeDriver(), 0);
}

}  // namespace
}  // namespace orvik::testing
