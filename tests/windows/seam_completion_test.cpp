// Completion routines of the Win32 seam: where and when they run, and what
// a transfer that was given up may still do.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pipe_device.h"
#include "platform/os.h"
#include "platform/win32/transfer_record.h"
#include "support/scripted_device.h"

namespace orvik::testing {
namespace {

struct Completion {
  int calls = 0;
  uint32_t error = 0;
  uint32_t bytes = 0;
  DWORD thread = 0;
};

void Record(uint32_t error, uint32_t bytes, os::AsyncIo* io) {
  auto* completion = static_cast<Completion*>(io->owner);
  ++completion->calls;
  completion->error = error;
  completion->bytes = bytes;
  completion->thread = GetCurrentThreadId();
}

class SeamTest : public ::testing::Test {
 protected:
  SeamTest() : os_(os::PlatformOs()) {
    event_ = os_.NewEvent();
    io_.owner = &completion_;
  }
  ~SeamTest() override {
    if (device_ != nullptr) os_.CloseDevice(device_);
    os_.WaitAlertable(event_, 0);  // let routines of given-up transfers run
    os_.CloseEvent(event_);
  }
  void Open() {
    device_ = os_.OpenDevice("\\\\.\\TEMBROr0");
    ASSERT_NE(device_, nullptr);
  }
  // Alertable waits until the routine has run (or the limit passed).
  void AwaitRoutine(uint32_t limitMs = 2000) {
    ULONGLONG deadline = GetTickCount64() + limitMs;
    while (completion_.calls == 0 && GetTickCount64() < deadline)
      os_.WaitAlertable(event_, static_cast<uint32_t>(deadline - GetTickCount64()));
  }

  os::Os& os_;
  os::EventHandle event_ = nullptr;
  os::DeviceHandle device_ = nullptr;
  os::AsyncIo io_;
  Completion completion_;
};

// The kernel has completed the read (the reply was waiting in the pipe) but
// the routine has not run yet when the transfer is given up: it then reports
// the transfer aborted and the data never reaches the buffer.
TEST_F(SeamTest, ReadCompletedButGivenUpBeforeItsRoutineLeavesTheBufferAlone) {
  PipeDevice pipe;
  Open();
  ASSERT_TRUE(pipe.WaitForClient());
  ASSERT_TRUE(pipe.Send(Bytes(64, 0xAA)));
  Bytes buffer(64, 0x11);
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));
  Sleep(50);
  EXPECT_TRUE(os_.CancelIo(device_));
  EXPECT_EQ(completion_.calls, 0) << "routines run only in alertable waits";
  AwaitRoutine();
  EXPECT_EQ(completion_.calls, 1);
  EXPECT_EQ(completion_.error, os::kErrorOperationAborted);
  EXPECT_EQ(completion_.bytes, 0u);
  EXPECT_EQ(buffer, Bytes(64, 0x11));

  // The next read is not disturbed.
  completion_ = Completion{};
  ASSERT_TRUE(pipe.Send(Bytes(64, 0xBB)));
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));
  AwaitRoutine();
  EXPECT_EQ(completion_.error, 0u);
  EXPECT_EQ(completion_.bytes, 64u);
  EXPECT_EQ(buffer, Bytes(64, 0xBB));
  EXPECT_EQ(completion_.thread, GetCurrentThreadId());
}

TEST_F(SeamTest, ClosingTheDeviceGivesUpItsPendingRead) {
  PipeDevice pipe;
  Open();
  ASSERT_TRUE(pipe.WaitForClient());
  Bytes buffer(64, 0x22);
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));
  EXPECT_TRUE(os_.CloseDevice(device_));
  device_ = nullptr;
  AwaitRoutine();
  EXPECT_EQ(completion_.calls, 1);
  EXPECT_EQ(completion_.error, os::kErrorOperationAborted);
  EXPECT_EQ(buffer, Bytes(64, 0x22));
  EXPECT_EQ(os::win32::TransfersInFlight(), 0u);
}

TEST_F(SeamTest, TransferOnAClosedPipeFailsToStartOrFails) {
  auto pipe = std::make_unique<PipeDevice>();
  Open();
  ASSERT_TRUE(pipe->WaitForClient());
  pipe.reset();  // the driver goes away
  Bytes buffer(64, 0);
  if (os_.StartRead(device_, buffer.data(), 64, &io_, Record)) {
    AwaitRoutine();
    EXPECT_EQ(completion_.calls, 1);
    EXPECT_NE(completion_.error, 0u);
  }
  EXPECT_EQ(os::win32::TransfersInFlight(), 0u);
}

// In-process drivers (the simulator): answers come as APCs to the thread
// that started the transfer, late ones included.
TEST_F(SeamTest, InProcessAnswersRunOnlyOnTheStartingThread) {
  ScriptedDevice scripted;
  ScriptedAnswer late;
  late.bytes = Bytes(64, 0x33);
  late.answer.timing = os::DeviceAnswer::Timing::kLate;
  late.answer.delayMs = 150;
  scripted.QueueReadAnswer(late);
  Open();
  Bytes buffer(64, 0);
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));

  std::atomic<int> otherResult{-1};
  std::thread other([&] {
    os::EventHandle otherEvent = os_.NewEvent();
    otherResult = static_cast<int>(os_.WaitAlertable(otherEvent, 400));
    os_.CloseEvent(otherEvent);
  });
  other.join();
  EXPECT_EQ(otherResult.load(), static_cast<int>(os::WaitResult::kTimeout));
  EXPECT_EQ(completion_.calls, 0);

  EXPECT_EQ(os_.WaitAlertable(event_, 1000), os::WaitResult::kIoCompletion);
  EXPECT_EQ(completion_.calls, 1);
  EXPECT_EQ(completion_.thread, GetCurrentThreadId());
  EXPECT_EQ(completion_.bytes, 64u);
  EXPECT_EQ(buffer, Bytes(64, 0x33));
}

TEST_F(SeamTest, InProcessLateAnswerOfAGivenUpReadIsDropped) {
  ScriptedDevice scripted;
  ScriptedAnswer late;
  late.bytes = Bytes(64, 0x44);
  late.answer.timing = os::DeviceAnswer::Timing::kLate;
  late.answer.delayMs = 200;
  scripted.QueueReadAnswer(late);
  Open();
  Bytes buffer(64, 0x55);
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));
  EXPECT_TRUE(os_.CancelIo(device_));
  AwaitRoutine();
  EXPECT_EQ(completion_.calls, 1);
  EXPECT_EQ(completion_.error, os::kErrorOperationAborted);
  Sleep(250);
  EXPECT_EQ(os_.WaitAlertable(event_, 0), os::WaitResult::kTimeout);  // nothing more comes
  EXPECT_EQ(buffer, Bytes(64, 0x55));
}

TEST_F(SeamTest, InProcessStalledReadEndsAbortedWhenItsDeviceCloses) {
  ScriptedDevice scripted;
  ScriptedAnswer never;
  never.answer.timing = os::DeviceAnswer::Timing::kNever;
  scripted.QueueReadAnswer(never);
  Open();
  Bytes buffer(64, 0x66);
  ASSERT_TRUE(os_.StartRead(device_, buffer.data(), 64, &io_, Record));
  EXPECT_EQ(os_.WaitAlertable(event_, 100), os::WaitResult::kTimeout);
  EXPECT_TRUE(os_.CloseDevice(device_));
  device_ = nullptr;
  EXPECT_EQ(scripted.State().openConnections, 0);
  AwaitRoutine();
  EXPECT_EQ(completion_.error, os::kErrorOperationAborted);
  EXPECT_EQ(buffer, Bytes(64, 0x66));
}

}  // namespace
}  // namespace orvik::testing
