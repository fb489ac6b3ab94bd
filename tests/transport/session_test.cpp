// The device session: opens, closes and the overlapped transfers, checked
// on the wire through a recording device.
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "support/library_fixture.h"
#include "transport/control_requests.h"

namespace orvik::testing {
namespace {

using Kind = Recorded::Kind;

class SessionTest : public LibraryTest {};

TEST_F(SessionTest, ReadsAreRoundedUpToWholePackets) {
  OpenQuietly();
  uint8_t buffer[8192];
  struct Case {
    uint32_t length;
    uint32_t requested;
  };
  for (Case c : {Case{3, 64}, Case{64, 64}, Case{512, 512}, Case{100, 128}, Case{4095, 4096}}) {
    device_.ClearRecords();
    EXPECT_EQ(OrvikDDRead(buffer, c.length), 1) << c.length;
    auto transfers = device_.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].kind, Kind::kRead);
    EXPECT_EQ(transfers[0].length, c.requested) << c.length;
  }
}

TEST_F(SessionTest, OddReadsBeyondTheBounceBufferAreRefusedUnsent) {
  OpenQuietly();
  std::vector<uint8_t> buffer(8192);
  EXPECT_EQ(OrvikDDRead(buffer.data(), 5000), 0);
  EXPECT_EQ(OrvikDDRead(buffer.data(), 4097), 0);
  EXPECT_TRUE(device_.Transfers().empty());
  EXPECT_EQ(OrvikDDRead(buffer.data(), 8192), 1);  // whole packets need no bounce buffer
}

TEST_F(SessionTest, BouncedReadReturnsOnlyTheAskedBytes) {
  OpenQuietly();
  device_.QueueReply({1, 2, 3, 4, 5, 6});
  uint8_t buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(OrvikDDRead(buffer, 3), 1);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(buffer[3], 0xEE);  // nothing past the asked length
}

TEST_F(SessionTest, ShortReadFailsButCopiesWhatArrived) {
  OpenQuietly();
  ScriptedAnswer shortAnswer;
  shortAnswer.bytes = {9, 8, 7};
  shortAnswer.fullCount = false;
  shortAnswer.answer = os::DeviceAnswer::Done(3);
  device_.QueueReadAnswer(shortAnswer);
  uint8_t buffer[3] = {};
  EXPECT_EQ(OrvikDDRead(buffer, 3), 0);
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(buffer[2], 7);
}

TEST_F(SessionTest, WritesMustMoveEveryByteWithoutError) {
  OpenQuietly();
  uint8_t frame[6] = {1, 2, 3, 4, 5, 6};
  ScriptedAnswer shortWrite;
  shortWrite.fullCount = false;
  shortWrite.answer = os::DeviceAnswer::Done(5);
  device_.QueueWriteAnswer(shortWrite);
  EXPECT_EQ(OrvikDDWrite(frame, 6), 0);
  ScriptedAnswer failed;
  failed.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  device_.QueueWriteAnswer(failed);
  EXPECT_EQ(OrvikDDWrite(frame, 6), 0);
  EXPECT_EQ(OrvikDDWrite(frame, 6), 1);
  auto transfers = device_.Transfers();
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[2].data, std::vector<uint8_t>(frame, frame + 6));
  EXPECT_EQ(OrvikDDWrite(nullptr, 6), 0);
  EXPECT_EQ(device_.Transfers().size(), 3u);
}

TEST_F(SessionTest, StalledTransferGivesUpAfterTheLimit) {
  OpenQuietly();
  ScriptedAnswer stall;
  stall.answer.timing = os::DeviceAnswer::Timing::kNever;
  device_.QueueReadAnswer(stall);
  uint8_t buffer[64];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OrvikDDRead(buffer, 64), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(990));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_EQ(os_.cancelCount, 1);
  EXPECT_EQ(OrvikDDRead(buffer, 64), 1);  // the session goes on
}

// A driver that cannot cancel completes the abandoned read late, inside the
// next transfer's wait: that completion must not be taken for the newer one.
TEST_F(SessionTest, LateCompletionOfAnAbandonedTransferIsNotTakenForTheNext) {
  OpenQuietly();
  os_.ignoreCancel = true;
  ScriptedAnswer late;
  late.bytes = std::vector<uint8_t>(64, 0xAA);
  late.answer.timing = os::DeviceAnswer::Timing::kLate;
  late.answer.delayMs = 1300;
  device_.QueueReadAnswer(late);
  ScriptedAnswer later;
  later.bytes = std::vector<uint8_t>(64, 0xBB);
  later.answer.timing = os::DeviceAnswer::Timing::kLate;
  later.answer.delayMs = 600;
  device_.QueueReadAnswer(later);

  std::vector<uint8_t> first(64, 0), second(3, 0);
  EXPECT_EQ(OrvikDDRead(first.data(), 64), 0);  // times out at 1000 ms
  // Started at ~1000 ms, answered at ~1600 ms; the abandoned read completes
  // at ~1300 ms in between.
  EXPECT_EQ(OrvikDDRead(second.data(), 3), 1);
  EXPECT_EQ(second, std::vector<uint8_t>(3, 0xBB));
}

TEST_F(SessionTest, AbandonedLateCompletionCannotMakeAStalledTransferSucceed) {
  OpenQuietly();
  os_.ignoreCancel = true;
  ScriptedAnswer late;
  late.bytes = std::vector<uint8_t>(64, 0xAA);
  late.answer.timing = os::DeviceAnswer::Timing::kLate;
  late.answer.delayMs = 1200;
  device_.QueueReadAnswer(late);
  ScriptedAnswer never;
  never.answer.timing = os::DeviceAnswer::Timing::kLate;
  never.answer.delayMs = 1500;  // past the second transfer's limit as well
  device_.QueueReadAnswer(never);
  uint8_t first[64], second[64];
  std::memset(second, 0, sizeof second);
  EXPECT_EQ(OrvikDDRead(first, 64), 0);
  EXPECT_EQ(OrvikDDRead(second, 64), 0);
  EXPECT_EQ(second[0], 0);  // the first read's data did not land here
  os_.ignoreCancel = false;
}

TEST_F(SessionTest, WaitEndedByAnotherCompletionKeepsWaiting) {
  OpenQuietly();
  int calls = 0;
  os_.waitOverride = [&]() -> std::optional<os::WaitResult> {
    if (++calls == 1) return os::WaitResult::kIoCompletion;  // someone else's routine ran
    return std::nullopt;
  };
  device_.QueueReply({0x42});
  uint8_t buffer[64] = {};
  EXPECT_EQ(OrvikDDRead(buffer, 64), 1);
  EXPECT_EQ(buffer[0], 0x42);
  EXPECT_GE(calls, 2);
  EXPECT_EQ(os_.cancelCount, 0);
}

TEST_F(SessionTest, FailedOrForeignWaitCancelsAndFails) {
  OpenQuietly();
  uint8_t buffer[64] = {};
  for (os::WaitResult forced : {os::WaitResult::kFailed, os::WaitResult::kSignaled}) {
    os_.waitOverride = [&]() -> std::optional<os::WaitResult> { return forced; };
    os_.cancelCount = 0;
    EXPECT_EQ(OrvikDDRead(buffer, 64), 0);
    EXPECT_EQ(os_.cancelCount, 1);
  }
  os_.waitOverride = nullptr;
  EXPECT_EQ(OrvikDDRead(buffer, 64), 1);  // the cancelled reads freed their slots
}

// A host may start a thread per call.  A transfer given up on a thread that
// then ends must not keep one of the session's four slots for good.
TEST_F(SessionTest, TransfersGivenUpOnThreadsThatEndLeaveNoSlotTaken) {
  OpenQuietly();
  std::atomic<int> waits{0};
  os_.waitOverride = [&]() -> std::optional<os::WaitResult> {
    if (++waits % 2 == 1) return os::WaitResult::kTimeout;  // the transfer's own wait
    return std::nullopt;                                    // what follows the cancel
  };
  for (int thread = 0; thread < 5; ++thread) {
    ScriptedAnswer stall;
    stall.answer.timing = os::DeviceAnswer::Timing::kNever;
    device_.QueueReadAnswer(stall);
    std::thread([] {
      uint8_t buffer[64];
      EXPECT_EQ(OrvikDDRead(buffer, 64), 0);
    }).join();
  }
  os_.waitOverride = nullptr;
  uint8_t buffer[64];
  EXPECT_EQ(OrvikDDRead(buffer, 64), 1);
  EXPECT_EQ(device_.Transfers().size(), 6u);  // every one was sent
}

TEST_F(SessionTest, TransferThatCannotStartFails) {
  OpenQuietly();
  os_.failStartTransfers = true;
  uint8_t buffer[64];
  EXPECT_EQ(OrvikDDWrite(buffer, 3), 0);
  EXPECT_EQ(OrvikDDRead(buffer, 64), 0);
}

TEST_F(SessionTest, ScanOpensTheFirstInstanceThatExists) {
  ScriptedDevice seventh("TEMBROr7");
  device_.State().refuseOpen = true;  // instance 0 exists but will not open
  os_.openedNames.clear();
  ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 1, DEVICE_STATUS_NORMAL), 1);
  ASSERT_EQ(os_.openedNames.size(), 8u);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(os_.openedNames[n], "\\\\.\\TEMBROr" + std::to_string(n));
  EXPECT_EQ(seventh.State().openConnections, 1);
}

TEST_F(SessionTest, RecoveryScanTriesOneHundredObjectsThenFails) {
  os_.openedNames.clear();
  EXPECT_EQ(OrvikDDOpenDriver(0, 1, DEVICE_STATUS_RECOVERY), 0);
  ASSERT_EQ(os_.openedNames.size(), 100u);
  EXPECT_EQ(os_.openedNames.front(), "\\\\.\\OrvikRecDevice0");
  EXPECT_EQ(os_.openedNames.back(), "\\\\.\\OrvikRecDevice99");
}

TEST_F(SessionTest, InstanceOpenMakesOneAttemptAndIgnoresOtherInstances) {
  os_.openedNames.clear();
  EXPECT_EQ(OrvikDDOpenDriver(5, 0, DEVICE_STATUS_NORMAL), 0);
  ASSERT_EQ(os_.openedNames.size(), 1u);
  EXPECT_EQ(os_.openedNames[0], "\\\\.\\TEMBROr5");
  ScriptedDevice recovery("OrvikRecDevice3");
  EXPECT_EQ(OrvikDDOpenDriver(3, 0, DEVICE_STATUS_RECOVERY), 1);
  EXPECT_EQ(recovery.State().openConnections, 1);
  EXPECT_EQ(device_.State().openConnections, 0);
}

TEST_F(SessionTest, BlockingOpenMarksTheRecordAndCloseClearsTheOwner) {
  device_.State().userData = _USER_DATA{0, 7, 0, 9};
  ASSERT_EQ(OrvikDDOpenDriver(0, 0, DEVICE_STATUS_NORMAL), 1);
  auto controls = device_.Controls();
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0].code, transport::kIoctlSetUserData);
  _USER_DATA written{};
  ASSERT_EQ(controls[0].data.size(), sizeof written);
  std::memcpy(&written, controls[0].data.data(), sizeof written);
  EXPECT_EQ(written.ownerFlag, 1u);
  EXPECT_EQ(written.formatStatus, 0u);
  EXPECT_EQ(written.blockingFlag, 1u);
  EXPECT_EQ(written.reservedWord, 0u);
  EXPECT_TRUE(device_.Transfers().empty());

  device_.State().userData = _USER_DATA{1, 5, 1, 6};
  device_.ClearRecords();
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  controls = device_.Controls();
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].code, transport::kIoctlGetUserData);
  EXPECT_EQ(controls[1].code, transport::kIoctlSetUserData);
  _USER_DATA after = device_.State().userData;
  EXPECT_EQ(after.ownerFlag, 0u);
  EXPECT_EQ(after.formatStatus, 5u);
  EXPECT_EQ(after.blockingFlag, 1u);
  EXPECT_EQ(after.reservedWord, 6u);
  EXPECT_EQ(device_.State().openConnections, 0);
}

TEST_F(SessionTest, NoBlockOpenSendsNothingAndCloseLeavesAClearOwnerAlone) {
  OpenQuietly();
  EXPECT_TRUE(device_.All().empty());
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  auto controls = device_.Controls();
  ASSERT_EQ(controls.size(), 1u);  // only the read: word 0 is already 0
  EXPECT_EQ(controls[0].code, transport::kIoctlGetUserData);
}

TEST_F(SessionTest, CloseWithoutSessionReturnsZeroEveryTime) {
  EXPECT_EQ(OrvikDDCloseDriver(), 0);
  EXPECT_EQ(OrvikDDCloseDriver(), 0);
  EXPECT_EQ(os_.LiveAllocations(), 0u);
}

TEST_F(SessionTest, OpenThatCannotCreateItsEventKeepsTheHandleForClose) {
  os_.failCreateEvent = true;
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 0);
  EXPECT_EQ(device_.State().openConnections, 1);
  uint8_t buffer[64];
  EXPECT_EQ(OrvikDDRead(buffer, 64), 0);  // a half-open session fails at once
  EXPECT_TRUE(device_.Transfers().empty());
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  EXPECT_EQ(device_.State().openConnections, 0);
  EXPECT_EQ(OrvikDDCloseDriver(), 0);
}

TEST_F(SessionTest, OpenThatCannotAllocateReleasesItsEventOnce) {
  os_.failAllAllocations = true;
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 0);
  os_.failAllAllocations = false;
  uint8_t buffer[64];
  EXPECT_EQ(OrvikDDWrite(buffer, 3), 0);
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  EXPECT_EQ(OrvikDDCloseDriver(), 0);
  EXPECT_EQ(os_.LiveAllocations(), 0u);
}

TEST_F(SessionTest, SecondOpenReplacesTheSessionWithoutLeaking) {
  OpenQuietly();
  OpenQuietly();
  EXPECT_EQ(device_.State().openConnections, 1);
  EXPECT_EQ(os_.LiveAllocations(), 1u);  // one bounce buffer
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
  EXPECT_EQ(os_.LiveAllocations(), 0u);
}

}  // namespace
}  // namespace orvik::testing
