// The library against socket devices that misbehave: a device that never
// reads, never answers, answers short or malformed, or answers a control
// request without its output.  Every export returns its failure value within
// its limit (transfers 1000 ms, control requests 5 s), and an answer that
// leaves the stream at an unknown place ends the connection, so that later
// transfers fail at once instead of reading the rest of a broken answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>

#include "fake_socket_device.h"
#include "orvik/orvik.h"
#include "support/case_names.h"
#include "transport/session.h"

namespace orvik::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr uint8_t kWrite = 1, kRead = 2, kControl = 3;
constexpr milliseconds kTransferBound{3000};  // transfer limit 1000 ms
constexpr milliseconds kControlBound{8000};   // control limit 5000 ms

// A script that answers soundly, except the first request of one kind.
FakeSocketDevice::Script FirstOf(uint8_t op, std::function<Bytes(const WireRequest&)> spoil) {
  auto spoiled = std::make_shared<bool>(false);
  return [=](const WireRequest& request) {
    if (request.op != op || *spoiled) return SoundAnswer(request);
    *spoiled = true;
    return spoil(request);
  };
}

Bytes Silence(const WireRequest&) { return {}; }
Bytes TruncatedPayload(const WireRequest& r) {
  return WireAnswer(r.id, 0, r.outLength, Bytes(r.outLength / 2, 0));
}
Bytes TruncatedHeader(const WireRequest& r) {
  Bytes answer = SoundAnswer(r);
  answer.resize(5);
  return answer;
}
Bytes ShortCount(const WireRequest& r) { return WireAnswer(r.id, 0, 10, Bytes(10, 0)); }
Bytes WrongId(const WireRequest& r) { return WireAnswer(r.id + 5, 0, r.outLength); }
Bytes MoreThanAsked(const WireRequest& r) {
  uint32_t count = (r.op == kWrite ? r.inLength : r.outLength) + 64;
  return WireAnswer(r.id, 0, count, r.op == kWrite ? Bytes{} : Bytes(count, 0));
}
Bytes NoOutput(const WireRequest& r) { return WireAnswer(r.id, 0, 0); }

struct SocketCase {
  const char* name;
  FakeSocketDevice::Script script;
  std::function<long()> call;
  long failure;
  bool endsConnection;
  milliseconds bound = kTransferBound;
  bool deviceReads = true;
};

void PrintTo(const SocketCase& c, std::ostream* out) { *out << c.name; }

long DDRead64() {
  uint8_t buffer[64];
  return OrvikDDRead(buffer, sizeof buffer);
}
long DDWrite3() {
  uint8_t frame[3] = {0x0A, 0, 0};
  return OrvikDDWrite(frame, sizeof frame);
}
long DDWrite8MiB() {
  static Bytes big(8u << 20, 0x5A);
  return OrvikDDWrite(big.data(), static_cast<ORVIK_ULONG>(big.size()));
}
long FlashSizes() {
  ORVIK_ULONG type = 0, failed = 0;
  return OrvikGetFlashSizes(&type, &failed);
}
long DeviceVersion() {
  ORVIK_ULONG version = 0;
  return OrvikGetDeviceVersion(&version);
}
long DDDeviceVersion() {
  ORVIK_ULONG version = 0;
  return OrvikDDGetDeviceVersion(&version);
}
long UserRecord() {
  _USER_DATA data{};
  return OrvikGetStatus(&data);
}
long DDUserRecord() {
  _USER_DATA data{};
  return OrvikDDGetStatus(&data);
}
long FirmwareVersions() {
  ORVIK_ULONG types[1] = {5};
  _BinaryFilesInformation files{};
  files.fileCount = 1;
  files.fileTags[0] = 'P';
  return OrvikGetFirmwareVersion(types, 0, &files);
}

const SocketCase kCases[] = {
    {"never reads an 8 MiB write", Silence, DDWrite8MiB, 0, true, kTransferBound, false},
    {"never answers a read", FirstOf(kRead, Silence), DDRead64, 0, false},
    {"never answers an exchange's reply", FirstOf(kRead, Silence), FlashSizes,
     ACCESS_DEVICE_NO_ANSWER, false},
    {"answers a read with fewer bytes", FirstOf(kRead, ShortCount), DDRead64, 0, false},
    {"truncates a read's payload", FirstOf(kRead, TruncatedPayload), DDRead64, 0, true},
    {"truncates an answer's header", FirstOf(kRead, TruncatedHeader), DDRead64, 0, true},
    {"truncates a reply within an operation", FirstOf(kRead, TruncatedPayload), FirmwareVersions,
     PROGRAM_MEDIA_NO_DEVICE, true},
    {"answers with a wrong id", FirstOf(kRead, WrongId), DDRead64, 0, true},
    {"reports more bytes read than asked", FirstOf(kRead, MoreThanAsked), DDRead64, 0, true},
    {"reports more bytes written than sent", FirstOf(kWrite, MoreThanAsked), DDWrite3, 0, true},
    {"answers the version request with no bytes", FirstOf(kControl, NoOutput), DeviceVersion, 0,
     false},
    {"answers the DD version request with no bytes", FirstOf(kControl, NoOutput), DDDeviceVersion,
     0, false},
    {"answers the record request with no bytes", FirstOf(kControl, NoOutput), UserRecord, 0, false},
    {"answers the DD record request with no bytes", FirstOf(kControl, NoOutput), DDUserRecord, 0,
     false},
    {"answers the status request with no bytes", FirstOf(kControl, NoOutput),
     [] { return static_cast<long>(OrvikDDGetDeviceStatus()); }, DEVICE_STATUS_NO_DATA, false},
    {"answers the chip request with no bytes", FirstOf(kControl, NoOutput),
     [] { return static_cast<long>(OrvikGetChipId(0)); }, DEFAULT_CHIP_ID, false},
    {"reports more control bytes than asked", FirstOf(kControl, MoreThanAsked), DeviceVersion, 0,
     true},
    {"truncates a control answer", FirstOf(kControl, TruncatedPayload), DDUserRecord, 0, true,
     kControlBound},
    {"never answers a control request", FirstOf(kControl, Silence), DeviceVersion, 0, false,
     kControlBound},
};

class SocketDeviceTest : public ::testing::TestWithParam<SocketCase> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvik-socket-device-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ::setenv("ORVIK_DEVICE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    OrvikDDCloseDriver();
    ::unsetenv("ORVIK_DEVICE_DIR");
    fs::remove_all(dir_);
  }

  fs::path dir_;
};

TEST_P(SocketDeviceTest, FailsWithinItsLimitAndEndsABrokenStream) {
  const SocketCase& c = GetParam();
  FakeSocketDevice device(dir_, "TEMBROr0", c.script, c.deviceReads);
  ASSERT_EQ(OrvikDDOpenDriverNoBlock(0, 0, DEVICE_STATUS_NORMAL), 1);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.call(), c.failure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, c.bound);

  if (c.endsConnection) {
    // Nothing more goes out: the next transfer fails as "no device".
    EXPECT_EQ(DDWrite3(), 0);
    EXPECT_TRUE(transport::DeviceStoppedAnswering());
    for (int i = 0; i < 100 && c.deviceReads && !device.SawConnectionEnd(); ++i) ::usleep(20000);
    EXPECT_EQ(device.SawConnectionEnd(), c.deviceReads);
  } else {
    // A stall or an empty output is no broken stream: the session goes on.
    EXPECT_EQ(DDWrite3(), 1);
    EXPECT_FALSE(transport::DeviceStoppedAnswering());
    EXPECT_FALSE(device.SawConnectionEnd());
  }
}

INSTANTIATE_TEST_SUITE_P(Misbehaviours, SocketDeviceTest, ::testing::ValuesIn(kCases),
                         NameOfCase());

}  // namespace
}  // namespace orvik::testing
