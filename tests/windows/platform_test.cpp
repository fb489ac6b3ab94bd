// The rest of the Win32 seam: platform version, pages, the lock, events.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/os.h"
#include "transport/device_name.h"

namespace orvik::testing {
namespace {

os::Os& Platform() { return os::PlatformOs(); }

TEST(Win32Platform, VersionIsTheNtFamilySoDevicesTakeTheNtPrefix) {
  os::PlatformVersion version = Platform().GetPlatformVersion();
  ASSERT_TRUE(version.ok);
  EXPECT_EQ(version.platformId, os::kPlatformNt);
  EXPECT_GE(version.major, 5u);
  EXPECT_STREQ(transport::DeviceNamePrefix(version), "TEMBROr");
}

TEST(Win32Platform, PagesAreAlignedZeroFilledAndWritable) {
  EXPECT_EQ(Platform().AllocatePages(0), nullptr);
  auto* pages = static_cast<uint8_t*>(Platform().AllocatePages(3 * 4096 + 1));
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
  for (size_t i = 0; i < 3 * 4096 + 1; ++i) ASSERT_EQ(pages[i], 0) << i;
  pages[3 * 4096] = 0xA5;
  EXPECT_EQ(pages[3 * 4096], 0xA5);
  Platform().FreePages(pages);
  Platform().FreePages(nullptr);  // nothing to release
}

TEST(Win32Platform, LockIsRecursiveAndKeepsOtherThreadsOut) {
  os::LockHandle lock = Platform().CreateLock();
  ASSERT_NE(lock, nullptr);
  Platform().EnterLock(lock);
  Platform().EnterLock(lock);  // the holder may enter again
  std::atomic<bool> entered{false};
  std::thread other([&] {
    Platform().EnterLock(lock);
    entered = true;
    Platform().LeaveLock(lock);
  });
  Platform().LeaveLock(lock);
  Sleep(100);
  EXPECT_FALSE(entered.load()) << "still held once";
  Platform().LeaveLock(lock);
  other.join();
  EXPECT_TRUE(entered.load());
  Platform().DeleteLock(lock);
}

TEST(Win32Platform, EventWaitsEndOnSignalOrLimit) {
  os::EventHandle event = Platform().NewEvent();
  ASSERT_NE(event, nullptr);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Platform().WaitEvent(event, 150), os::WaitResult::kTimeout);
  EXPECT_EQ(Platform().WaitAlertable(event, 150), os::WaitResult::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_TRUE(Platform().SetEvent(event));
  EXPECT_EQ(Platform().WaitEvent(event, 0), os::WaitResult::kSignaled);  // manual reset
  EXPECT_EQ(Platform().WaitAlertable(event, 0), os::WaitResult::kSignaled);
  EXPECT_TRUE(Platform().ResetEvent(event));
  EXPECT_EQ(Platform().WaitEvent(event, 0), os::WaitResult::kTimeout);
  EXPECT_TRUE(Platform().CloseEvent(event));
  EXPECT_EQ(Platform().WaitEvent(nullptr, 0), os::WaitResult::kFailed);
}

}  // namespace
}  // namespace orvik::testing
