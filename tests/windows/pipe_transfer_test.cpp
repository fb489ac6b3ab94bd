// The device session on the real Win32 path: CreateFileA, WriteFileEx and
// ReadFileEx with the completion routine, the alertable wait, CancelIo, all
// against a named pipe that stands in for the driver.
#include <gtest/gtest.h>

#include <chrono>

#include "orvik/orvik.h"
#include "pipe_device.h"
#include "platform/win32/transfer_record.h"
#include "support/test_os.h"

namespace orvik::testing {
namespace {

Bytes Pattern(size_t size, uint8_t first) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class PipeSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 1);
    ASSERT_TRUE(device_.WaitForClient());
  }
  void TearDown() override { OrvikDDCloseDriver(); }

  // Writes a frame and reads length bytes of its reply into buffer.
  int Exchange(const Bytes& frame, uint8_t* buffer, ORVIK_ULONG length) {
    Bytes copy = frame;
    if (OrvikDDWrite(copy.data(), static_cast<ORVIK_ULONG>(copy.size())) != 1) return -1;
    return OrvikDDRead(buffer, length);
  }

  PipeDevice device_;
};

TEST_F(PipeSessionTest, WritesArriveWholeAndReadsTakeExactlyTheirReply) {
  Bytes frame = {0x01, 0x00, 0x00, 0x05, 0x00, 0x00};
  device_.QueueReply(Pattern(64, 0x40));
  uint8_t buffer[64] = {};
  ASSERT_EQ(Exchange(frame, buffer, 64), 1);
  EXPECT_EQ(Bytes(buffer, buffer + 64), Pattern(64, 0x40));
  ASSERT_TRUE(device_.WaitForMessages(1));
  EXPECT_EQ(device_.Received()[0], frame);

  // Whole packets of any size go straight through.
  Bytes block = Pattern(16384, 7);
  device_.QueueReply(Pattern(16384, 9));
  Bytes in(16384);
  ASSERT_EQ(Exchange(block, in.data(), 16384), 1);
  EXPECT_EQ(in, Pattern(16384, 9));
  ASSERT_TRUE(device_.WaitForMessages(2));
  EXPECT_EQ(device_.Received()[1], block);
}

// In message mode a read that asks for fewer bytes than the reply fails and
// one that asks for more comes back short: only the rounded size succeeds.
TEST_F(PipeSessionTest, OddReadsAskForWholePacketsThroughTheBounceBuffer) {
  struct Case {
    ORVIK_ULONG length;
    size_t replySize;
  };
  for (Case c : {Case{3, 64}, Case{100, 128}, Case{4095, 4096}}) {
    device_.QueueReply(Pattern(c.replySize, 1));
    Bytes buffer(c.length + 16, 0xEE);
    ASSERT_EQ(Exchange({0x01}, buffer.data(), c.length), 1) << c.length;
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.length), Pattern(c.length, 1));
    EXPECT_EQ(buffer[c.length], 0xEE) << "nothing past the asked length";
  }
}

TEST_F(PipeSessionTest, ShortReplyFailsButTheBytesThatCameAreCopied) {
  device_.QueueReply(Pattern(40, 0x10));
  uint8_t direct[64] = {};
  EXPECT_EQ(Exchange({0x02}, direct, 64), 0);

  device_.QueueReply(Bytes{0xA1, 0xA2});
  uint8_t bounced[3] = {0, 0, 0};
  EXPECT_EQ(Exchange({0x03}, bounced, 3), 0);
  EXPECT_EQ(bounced[0], 0xA1);
  EXPECT_EQ(bounced[1], 0xA2);
}

TEST_F(PipeSessionTest, StalledReadIsCancelledAfterTheLimitAndTheSessionGoesOn) {
  device_.QueueReply(std::nullopt);  // the driver never answers the first frame
  Bytes stalled(64, 0x5A);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange({0x04}, stalled.data(), 64), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(990));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));

  device_.QueueReply(Pattern(64, 0x80));
  uint8_t next[64] = {};
  ASSERT_EQ(Exchange({0x05}, next, 64), 1);
  EXPECT_EQ(Bytes(next, next + 64), Pattern(64, 0x80));
  EXPECT_EQ(stalled, Bytes(64, 0x5A)) << "the cancelled read wrote into its old buffer";
  // The cancelled read's routine ran (aborted) in a later alertable wait.
  EXPECT_EQ(os::win32::TransfersInFlight(), 0u);
}

// A driver that cannot cancel: CancelIo does not reach the seam, the first
// read stays pending and completes late, during the next exchange.  Its
// completion must not be taken for the next read's.
TEST_F(PipeSessionTest, LateCompletionOfAGivenUpReadIsNotTakenForTheNext) {
  TestOs os;
  os.ignoreCancel = true;
  device_.QueueReply(std::nullopt);
  Bytes first(64, 0);
  EXPECT_EQ(Exchange({0x06}, first.data(), 64), 0);
  EXPECT_EQ(os.cancelCount, 1);

  // The next frame makes the driver answer the first read at last, then the
  // second one 300 ms later.
  device_.QueueReplies({{Pattern(64, 0xA0), 0}, {Pattern(64, 0xB0), 300}});
  Bytes second(64, 0);
  ASSERT_EQ(Exchange({0x07}, second.data(), 64), 1);
  EXPECT_EQ(second, Pattern(64, 0xB0));
  EXPECT_EQ(os::win32::TransfersInFlight(), 0u);
}

TEST(PipeDeviceNames, OpenFindsOnlyTheRedirectedInstance) {
  PipeDevice third("TEMBROr3");
  TestOs os;
  EXPECT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 0);
  ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 1, DEVICE_STATUS_NORMAL), 1);
  ASSERT_EQ(os.openedNames.size(), 5u);  // the single attempt, then instances 0 to 3
  EXPECT_EQ(os.openedNames[0], "\\\\.\\TEMBROr0");
  EXPECT_EQ(os.openedNames[4], "\\\\.\\TEMBROr3");
  EXPECT_TRUE(third.WaitForClient());
  EXPECT_EQ(OrvikDDCloseDriver(), 1);
}

}  // namespace
}  // namespace orvik::testing
