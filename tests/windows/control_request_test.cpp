// Control requests on the real Win32 path.  A pipe cannot answer the
// driver's control codes, but it does have a request that stays pending
// until the other end answers (the pipe transaction, FSCTL_PIPE_TRANSCEIVE):
// it shows that a request on a handle opened for overlapped I/O is waited
// for, and given up after the limit without writing into the caller's
// buffer later.  The driver's own requests are checked through in-process
// drivers in the transport tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "pipe_device.h"
#include "platform/os.h"
#include "transport/control_requests.h"

namespace orvik::testing {
namespace {

constexpr uint32_t kPipeTransceive = 0x0011C017;  // FSCTL_PIPE_TRANSCEIVE

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = os_.OpenDevice("\\\\.\\TEMBROr0");
    ASSERT_NE(device_, nullptr);
    ASSERT_TRUE(pipe_.WaitForClient());
  }
  void TearDown() override { os_.CloseDevice(device_); }

  PipeDevice pipe_;
  os::Os& os_ = os::PlatformOs();
  os::DeviceHandle device_ = nullptr;
};

TEST_F(ControlTest, DriverCodesThatTheDeviceRefusesFailAtOnce) {
  uint8_t out[16];
  std::memset(out, 0x77, sizeof out);
  uint32_t returned = 99;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(
      os_.DeviceControl(device_, transport::kIoctlGetUserData, nullptr, 0, out, 16, &returned));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(out[0], 0x77);
}

TEST_F(ControlTest, PendingRequestIsWaitedForAndReturnsItsOutput) {
  pipe_.QueueReply(Bytes{1, 2, 3, 4, 5}, 300);
  uint8_t in[3] = {9, 8, 7};
  uint8_t out[16] = {};
  uint32_t returned = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(os_.DeviceControl(device_, kPipeTransceive, in, 3, out, 16, &returned));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(returned, 5u);
  EXPECT_EQ(Bytes(out, out + 5), (Bytes{1, 2, 3, 4, 5}));
  ASSERT_TRUE(pipe_.WaitForMessages(1));
  EXPECT_EQ(pipe_.Received()[0], (Bytes{9, 8, 7}));
}

TEST_F(ControlTest, RequestWithoutAnswerIsGivenUpAfterTheLimit) {
  pipe_.QueueReply(std::nullopt);
  uint8_t in[1] = {1};
  Bytes out(16, 0x5A);
  uint32_t returned = 99;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(os_.DeviceControl(device_, kPipeTransceive, in, 1, out.data(), 16, &returned));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::milliseconds(8000));
  EXPECT_EQ(returned, 0u);
  // An answer that comes now does not reach the caller's buffer.
  pipe_.Send(Bytes(16, 0xC3));
  Sleep(100);
  EXPECT_EQ(out, Bytes(16, 0x5A));
}

}  // namespace
}  // namespace orvik::testing
