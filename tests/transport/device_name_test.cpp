// Device object names by platform and instance.
#include "transport/device_name.h"

#include <gtest/gtest.h>

namespace orvik::transport {
namespace {

os::PlatformVersion Version(uint32_t id, uint32_t major, uint32_t minor) {
  return os::PlatformVersion{true, id, major, minor};
}

TEST(DeviceNamePrefix, FollowsThePlatformFamily) {
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformWindows9x, 4, 0)), "TEMBROu");   // 95
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformWindows9x, 4, 10)), "TEMBROu");  // 98
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformWindows9x, 4, 90)), "TEMBROr");  // ME
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformNt, 4, 0)), "TEMBROr");          // NT 4
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformNt, 5, 0)), "TEMBROr");          // 2000
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformNt, 5, 1)), "TEMBROr");          // XP
  EXPECT_STREQ(DeviceNamePrefix(Version(os::kPlatformWin32s, 3, 10)), "TEMBROu");
  // A failed version query leaves every member zero.
  EXPECT_STREQ(DeviceNamePrefix(os::PlatformVersion{}), "TEMBROu");
}

TEST(DeviceName, FormatsNormalAndRecoveryObjects) {
  EXPECT_STREQ(DeviceName("TEMBROr", 0, false).c_str(), "\\\\.\\TEMBROr0");
  EXPECT_STREQ(DeviceName("TEMBROu", 0, false).c_str(), "\\\\.\\TEMBROu0");
  EXPECT_STREQ(DeviceName("TEMBROr", 99, false).c_str(), "\\\\.\\TEMBROr99");
  EXPECT_STREQ(DeviceName("TEMBROr", 3, true).c_str(), "\\\\.\\OrvikRecDevice3");
  EXPECT_STREQ(DeviceName("TEMBROr", -5, false).c_str(), "\\\\.\\TEMBROr-5");
}

}  // namespace
}  // namespace orvik::transport
