// Every allocation of an open, a control query, a block status scan and a
// version query made to fail in turn, the heap's (the standard library's
// containers and records) and the OS seam's pages alike: each call ends
// with one of its documented results, no exception leaves the library, and
// nothing is held once the session is closed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "failing_heap.h"
#include "orvik/orvik.h"
#include "platform/device_driver.h"
#include "support/test_os.h"

namespace orvik::testing {
namespace {

// A fresh player's answers (every block good, a plain description), given
// without allocating: the device stands in for the driver, whose memory is
// not the library's.
class FreshPlayerConnection : public os::DeviceConnection {
 public:
  os::DeviceAnswer Write(const uint8_t*, uint32_t length) override {
    return os::DeviceAnswer::Done(length);
  }
  os::DeviceAnswer Read(uint8_t* data, uint32_t length) override {
    std::memset(data, 0xFF, length);
    return os::DeviceAnswer::Done(length);
  }
  os::DeviceAnswer Control(uint32_t, const uint8_t*, uint32_t, uint8_t* out,
                           uint32_t outLength) override {
    if (out != nullptr) std::memset(out, 0, outLength);
    return os::DeviceAnswer::Done(outLength);
  }
};

class FreshPlayer : public os::DeviceDriver {
 public:
  std::unique_ptr<os::DeviceConnection> Open() override {
    heap::DeviceCode device;
    return std::make_unique<FreshPlayerConnection>();
  }
};

// The test seam: the allocations of its own records (the names it saw, the
// set of live pages, the debug text) are the test's, not the library's; the
// platform's device channel, which the library reaches through it, stays
// counted.
class SweepOs : public TestOs {
 public:
  os::DeviceHandle OpenDevice(const char* name) override {
    return os::PlatformOs().OpenDevice(name);
  }
  void* AllocatePages(size_t size) override {
    heap::DeviceCode test;
    return TestOs::AllocatePages(size);
  }
  void Sleep(uint32_t) override {}
  void DebugOutput(const char* text) override {
    heap::DeviceCode test;
    TestOs::DebugOutput(text);
  }
};

constexpr ORVIK_ULONG kFlashType = 0;

struct Operation {
  const char* name;
  bool opened;  // runs on an open session
  std::function<int()> run;
  std::set<int> documented;  // results with an allocation failed; none: it allocates nothing
};

_BinaryFilesInformation& Files() {
  static _BinaryFilesInformation files = [] {
    _BinaryFilesInformation record;
    std::memset(&record, 0, sizeof record);
    record.fileCount = 1;
    record.lowAreaFile = 1;
    record.fileTags[0] = 'P';
    return record;
  }();
  return files;
}

int Scan() {
  ORVIK_ULONG types[1] = {kFlashType};
  return OrvikBuildBlockStatus(types, 0, 0, &Files(), nullptr);
}

const Operation kOperations[] = {
    // A failed description read leaves the open standing (version 0).
    {"open", false, [] { return OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL); }, {0, 1}},
    // "\\.\OrvikRecDevice0" is longer than a string's small buffer.
    {"recovery_open", false, [] { return OrvikOpenDriverEx(0, DEVICE_STATUS_RECOVERY); }, {0}},
    // A control request allocates nothing at all: no result may come of it.
    {"device_version",
     true,
     [] {
       ORVIK_ULONG version = 0;
       return OrvikGetDeviceVersion(&version);
     },
     {}},
    {"scan", true, Scan, {PROGRAM_MEDIA_NO_DEVICE}},
    {"version_query",
     true,
     [] {
       ORVIK_ULONG types[1] = {kFlashType};
       return static_cast<int>(OrvikGetFirmwareVersion(types, 0, &Files()));
     },
     {PROGRAM_MEDIA_NO_DEVICE, PROGRAM_MEDIA_WRITE_FAILED}},
};

class AllocationSweepTest : public ::testing::TestWithParam<Operation> {
 protected:
  AllocationSweepTest() {
    os_.registry = os::RegistryDword{true, 0};
    os::RegisterDevice("TEMBROr0", std::make_shared<FreshPlayer>());
    os::RegisterDevice("OrvikRecDevice0", std::make_shared<FreshPlayer>());
  }
  ~AllocationSweepTest() override {
    os::UnregisterDevice("TEMBROr0");
    os::UnregisterDevice("OrvikRecDevice0");
  }

  // Runs the operation once with the heap's failAt-th allocation, or the
  // seam's, failing (0: none); returns its result and how many of each it
  // made.  Ends with the session closed and the drive's buffers freed.
  struct Run {
    int result = -1;
    uint64_t heapAllocations = 0;
    uint64_t pageAllocations = 0;
  };
  Run RunOnce(uint64_t heapFailAt, uint64_t pageFailAt) {
    const Operation& operation = GetParam();
    if (operation.opened) {
      EXPECT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);
    }
    Run run;
    uint64_t pagesBefore = os_.Allocations();
    if (pageFailAt != 0) os_.FailAllocationNumber(pageFailAt);
    heap::Arm(heapFailAt);
    try {
      run.result = operation.run();
    } catch (...) {
      heap::Disarm();
      ADD_FAILURE() << "an exception left the library";
    }
    run.heapAllocations = heap::Disarm();
    run.pageAllocations = os_.Allocations() - pagesBefore;
    os_.FailAllocationNumber(0);
    OrvikFreeMemoryDevice(0);
    OrvikCloseDriver();
    return run;
  }

  SweepOs os_;
};

TEST_P(AllocationSweepTest, EveryFailedAllocationGivesADocumentedResult) {
  const Operation& operation = GetParam();
  RunOnce(0, 0);  // first use: the registry and thread state settle
  int64_t heldBlocks = heap::LiveBlocks();
  size_t heldPages = os_.LiveAllocations();
  Run clean = RunOnce(0, 0);
  EXPECT_EQ(heap::LiveBlocks(), heldBlocks);
  if (operation.documented.empty()) {
    EXPECT_EQ(clean.heapAllocations + clean.pageAllocations, 0u);
    return;
  }
  ASSERT_GE(clean.heapAllocations + clean.pageAllocations, 1u);

  for (uint64_t n = 1; n <= clean.heapAllocations; ++n) {
    Run run = RunOnce(n, 0);
    EXPECT_TRUE(operation.documented.count(run.result))
        << "heap allocation " << n << ": " << run.result;
    EXPECT_EQ(heap::LiveBlocks(), heldBlocks) << "heap allocation " << n;
    EXPECT_EQ(os_.LiveAllocations(), heldPages) << "heap allocation " << n;
  }
  for (uint64_t n = 1; n <= clean.pageAllocations; ++n) {
    Run run = RunOnce(0, n);
    EXPECT_TRUE(operation.documented.count(run.result))
        << "page allocation " << n << ": " << run.result;
    EXPECT_EQ(heap::LiveBlocks(), heldBlocks) << "page allocation " << n;
    EXPECT_EQ(os_.LiveAllocations(), heldPages) << "page allocation " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, AllocationSweepTest, ::testing::ValuesIn(kOperations),
                         [](const auto& param) { return std::string(param.param.name); });

// A driver that runs out of memory itself: the request fails, and the
// exception stays in the seam.
class ExhaustedConnection : public os::DeviceConnection {
 public:
  os::DeviceAnswer Write(const uint8_t*, uint32_t) override { throw std::bad_alloc(); }
  os::DeviceAnswer Read(uint8_t*, uint32_t) override { throw std::bad_alloc(); }
  os::DeviceAnswer Control(uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t) override {
    throw std::bad_alloc();
  }
};

class ExhaustedPlayer : public os::DeviceDriver {
 public:
  explicit ExhaustedPlayer(bool opens) : opens_(opens) {}
  std::unique_ptr<os::DeviceConnection> Open() override {
    if (!opens_) throw std::bad_alloc();
    return std::make_unique<ExhaustedConnection>();
  }

 private:
  bool opens_;
};

TEST(ExhaustedDriver, FailsTheCallWithoutThrowing) {
  SweepOs os;
  os.registry = os::RegistryDword{true, 0};
  os::RegisterDevice("TEMBROr0", std::make_shared<ExhaustedPlayer>(false));
  EXPECT_NO_THROW(EXPECT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 0));

  os::RegisterDevice("TEMBROr0", std::make_shared<ExhaustedPlayer>(true));
  EXPECT_NO_THROW({
    EXPECT_EQ(OrvikOpenDriverEx(0, DEVICE_STATUS_NORMAL), 1);  // the description is optional
    ORVIK_ULONG version = 7;
    EXPECT_EQ(OrvikGetDeviceVersion(&version), 0);
    EXPECT_EQ(Scan(), PROGRAM_MEDIA_NO_DEVICE);
    OrvikCloseDriver();
  });
  os::UnregisterDevice("TEMBROr0");
}

}  // namespace
}  // namespace orvik::testing
