// The reservation read from the Windows registry (HKLM, the player's Params
// key, "TotalKiloBytesReserved") with RegOpenKeyExA and a 4-byte
// RegQueryValueExA.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "firmware/reserved_area.h"
#include "platform/os.h"

namespace orvik::testing {
namespace {

constexpr const char kKey[] = "SOFTWARE\\Halvern\\Halvern TEMBRO Player\\Params";
constexpr const char kValue[] = "TotalKiloBytesReserved";

// The value as the test found it; put back when the test ends.
class SavedValue {
 public:
  SavedValue() {
    ok_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                          nullptr, &key_, nullptr) == ERROR_SUCCESS;
    if (!ok_) return;
    DWORD size = sizeof data_;
    if (RegQueryValueExA(key_, kValue, nullptr, &type_, data_, &size) == ERROR_SUCCESS)
      size_ = size;
  }
  ~SavedValue() {
    if (!ok_) return;
    if (size_)
      RegSetValueExA(key_, kValue, 0, type_, data_, *size_);
    else
      RegDeleteValueA(key_, kValue);
    RegCloseKey(key_);
  }
  bool ok() const { return ok_; }
  void Set(DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, kValue, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void Remove() { RegDeleteValueA(key_, kValue); }

 private:
  bool ok_ = false;
  HKEY key_ = nullptr;
  DWORD type_ = 0;
  BYTE data_[256] = {};
  std::optional<DWORD> size_;
};

// scripts/windows/run_wine_tests.sh sets the value with "wine reg add" and
// names it in ORVIK_EXPECT_RESERVED_KB.
TEST(Registry, ReadsTheReservationThatWasSetWithReg) {
  const char* expected = std::getenv("ORVIK_EXPECT_RESERVED_KB");
  if (expected == nullptr || expected[0] == '\0')
    GTEST_SKIP() << "ORVIK_EXPECT_RESERVED_KB not set (the Wine test script sets the value)";
  uint32_t kilobytes = static_cast<uint32_t>(std::strtoul(expected, nullptr, 10));
  os::RegistryDword read = os::PlatformOs().ReadReservedKilobytes();
  EXPECT_TRUE(read.found);
  EXPECT_EQ(read.value, kilobytes);
  uint32_t blockBytes = 512 * 32;
  EXPECT_EQ(firmware::ReadReservedBlockCount(512, 32),
            static_cast<uint32_t>((uint64_t{kilobytes} * 1024 + blockBytes - 1) / blockBytes));
}

TEST(Registry, ValueShapesAsAFourByteQuerySeesThem) {
  SavedValue saved;
  ASSERT_TRUE(saved.ok());
  os::Os& os = os::PlatformOs();

  DWORD one = 1;
  saved.Set(REG_DWORD, &one, sizeof one);
  EXPECT_EQ(firmware::ReadReservedBlockCount(512, 32), 1u);

  DWORD kilobytes = 1025;
  saved.Set(REG_DWORD, &kilobytes, sizeof kilobytes);
  EXPECT_EQ(firmware::ReadReservedBlockCount(512, 32), 65u);

  saved.Remove();
  EXPECT_FALSE(os.ReadReservedKilobytes().found);
  EXPECT_EQ(firmware::ReadReservedBlockCount(512, 32), 0u);

  // The type is not examined: a short string reads as its bytes...
  saved.Set(REG_SZ, "7", 2);
  os::RegistryDword text = os.ReadReservedKilobytes();
  EXPECT_TRUE(text.found);
  EXPECT_EQ(text.value, 0x37u);
  // ...and data longer than four bytes does not fit the query.
  const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  saved.Set(REG_BINARY, eight, sizeof eight);
  EXPECT_FALSE(os.ReadReservedKilobytes().found);
  EXPECT_EQ(firmware::ReadReservedBlockCount(512, 32), 0u);
}

}  // namespace
}  // namespace orvik::testing
