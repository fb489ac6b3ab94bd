// The opens, the close, the description read and the global lock.
#include <atomic>
#include <chrono>
#include <thread>

#include "api/global_lock.h"
#include "api/library_context.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

std::vector<uint8_t> DescriptionWith(std::vector<std::pair<uint32_t, uint32_t>> items) {
  std::vector<uint8_t> record(64, 0);
  record[0] = static_cast<uint8_t>(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    auto word = Words24({items[i].first, items[i].second});
    std::copy(word.begin(), word.end(), record.begin() + 3 + 6 * i);
  }
  return record;
}

class EntryPointTest : public LibraryTest {
 protected:
  ~EntryPointTest() override { api::Context().SetDccVersion(0); }
};

TEST_F(EntryPointTest, ScanningOpenFindsInstanceSevenAndReadsTheDescription) {
  device_.State().refuseOpen = true;
  ScriptedDevice seventh("TEMBROr7");
  seventh.QueueReply(DescriptionWith({{0, 0x100}, {1, 0x101}, {1, 0x55}}));
  os_.openedNames.clear();
  ASSERT_EQ(OrvikOpenDriver(DEVICE_STATUS_NORMAL), 1);
  EXPECT_EQ(os_.openedNames.size(), 8u);
  EXPECT_EQ(api::Context().DccVersion(), 0x101u);  // the first tag-1 item
  EXPECT_NE(os_.debugText.find("Smartmedia DCC Version: 101\n"), std::string::npos);
  auto transfers = seventh.Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].data, (std::vector<uint8_t>{0x03, 0x00, 0x00}));
  // The blocking open marked the driver's record.
  EXPECT_EQ(seventh.State().userData.ownerFlag, 1u);
  EXPECT_EQ(OrvikCloseDriver(), 1);
  EXPECT_EQ(seventh.State().userData.ownerFlag, 0u);
}

TEST_F(EntryPointTest, RecoveryOpenOfAnInstanceReadsNoDescription) {
  ScriptedDevice recovery("OrvikRecDevice3");
  os_.openedNames.clear();
  ASSERT_EQ(OrvikOpenDriverEx(3, DEVICE_STATUS_RECOVERY), 1);
  EXPECT_EQ(os_.openedNames, std::vector<std::string>{"\\\\.\\OrvikRecDevice3"});
  EXPECT_TRUE(recovery.Transfers().empty());
  EXPECT_EQ(os_.debugText, "");
  EXPECT_EQ(recovery.State().userData.blockingFlag, 1u);
}

TEST_F(EntryPointTest, NoBlockOpensPairTheirNamesTheOtherWayRound) {
  ScriptedDevice fifth("TEMBROr5");
  os_.openedNames.clear();
  ASSERT_EQ(OrvikOpenDriverNoBlock(5, DEVICE_STATUS_FAILED), 1);  // instance, no scan
  EXPECT_EQ(os_.openedNames.size(), 1u);
  EXPECT_EQ(fifth.State().userData.blockingFlag, 0u);  // no record written
  EXPECT_TRUE(fifth.All().empty());
  os_.openedNames.clear();
  ASSERT_EQ(OrvikOpenDriverNoBlockEx(DEVICE_STATUS_FAILED), 1);  // scan from 0
  EXPECT_EQ(os_.openedNames, std::vector<std::string>{"\\\\.\\TEMBROr0"});
  EXPECT_TRUE(device_.All().empty());
}

TEST_F(EntryPointTest, FailedDescriptionLeavesVersionZeroButTheOpenSucceeds) {
  api::Context().SetDccVersion(0x200);
  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueReadAnswer(failed);
  ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  EXPECT_EQ(api::Context().DccVersion(), 0u);
  EXPECT_NE(os_.debugText.find("Smartmedia DCC Version: 0\n"), std::string::npos);
}

TEST_F(EntryPointTest, OpenWithoutDescriptionKeepsTheLastVersion) {
  device_.QueueReply(DescriptionWith({{1, 0x100}}));
  ASSERT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
  EXPECT_EQ(api::Context().DccVersion(), 0x100u);
  ASSERT_EQ(OrvikOpenDriverNoBlock(0, DEVICE_STATUS_FAILED), 1);
  EXPECT_EQ(api::Context().DccVersion(), 0x100u);
}

TEST_F(EntryPointTest, CloseWithoutSessionReturnsZero) { EXPECT_EQ(OrvikCloseDriver(), 0); }

TEST_F(EntryPointTest, LockingExportsFailCleanlyWithoutASession) {
  _USER_DATA record{};
  ORVIK_ULONG word = 7;
  EXPECT_EQ(OrvikGetStatus(&record), 0);
  EXPECT_EQ(OrvikSetStatus(&record), 0);
  EXPECT_EQ(OrvikGetDeviceStatus(), DEVICE_STATUS_FAILED);
  EXPECT_EQ(OrvikGetDeviceVersion(&word), 0);
  EXPECT_EQ(OrvikGetChipId(0), DEFAULT_CHIP_ID);
  EXPECT_EQ(OrvikGetChipId(1), CHIP_MODEL_LATER);
  EXPECT_EQ(OrvikGetPowerStatus(&word), ACCESS_DEVICE_NO_ANSWER);
  EXPECT_EQ(word, 7u);
  ORVIK_ULONG failed = 0;
  EXPECT_EQ(OrvikGetFlashSizes(&word, &failed), ACCESS_DEVICE_NO_ANSWER);
  EXPECT_EQ(failed, 1u);
  EXPECT_EQ(OrvikCloseDriver(), 0);
  // After a failed open as well.
  device_.State().refuseOpen = true;
  EXPECT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 0);
  EXPECT_EQ(OrvikGetDeviceStatus(), DEVICE_STATUS_FAILED);
}

TEST_F(EntryPointTest, WrappersPassTheDriverWordsThrough) {
  OpenQuietly();
  device_.State().versionWord = 0x0305;
  device_.State().statusWord = 2;
  ORVIK_ULONG version = 0;
  EXPECT_EQ(OrvikGetDeviceVersion(&version), 1);
  EXPECT_EQ(version, 0x0305u);
  EXPECT_EQ(OrvikGetDeviceStatus(), DEVICE_STATUS_RECOVERY);
  _USER_DATA record{1, 2, 3, 4};
  EXPECT_EQ(OrvikSetStatus(&record), 1);
  _USER_DATA read{};
  EXPECT_EQ(OrvikGetStatus(&read), 1);
  EXPECT_EQ(read.formatStatus, 2u);
}

TEST(GlobalLock, HolderMayEnterAgainWhileOthersWait) {
  api::EnterGlobalLock();
  api::EnterGlobalLock();  // a critical section: no deadlock
  std::atomic<bool> entered{false};
  std::thread other([&] {
    api::GlobalLockGuard guard;
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  api::LeaveGlobalLock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered.load());
  api::LeaveGlobalLock();
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
}  // namespace orvik::testing
