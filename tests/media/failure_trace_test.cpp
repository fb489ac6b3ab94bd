// With tracing on (ORVIK_DEBUG), a failing media operation explains itself
// in debug lines that name the step and the block; with it off, nothing.
#include <cctype>
#include <functional>
#include <ostream>
#include <string>

#include "support/case_names.h"
#include "support/firmware_set.h"
#include "support/sim_fixture.h"

namespace orvik::testing {
namespace {

constexpr uint32_t kType = 0;

struct Failure {
  const char* name;
  std::function<PROGRAM_MEDIA_STATUS(FirmwareSet&, sim::Player&)> run;
  PROGRAM_MEDIA_STATUS status;
  const char* line;  // what the debug line says
};
void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

const Failure kFailures[] = {
    {"update without a scan", [](FirmwareSet& set, sim::Player&) { return set.Program(kType); },
     PROGRAM_MEDIA_NO_DEVICE, "orvik: firmware write: no block status table"},
    {"update with no system area",
     [](FirmwareSet& set, sim::Player&) {
       set.Scan(kType);
       return set.Program(kType);
     },
     PROGRAM_MEDIA_SYSTEM_MISMATCH, "orvik: update: 0 system blocks at the top of the flash, 8"},
    {"update after a scan that failed part-way",
     [](FirmwareSet& set, sim::Player& player) {
       player.AddTransferFault({2, sim::TransferFault::Kind::kError});  // the marks' reply
       set.Scan(kType);
       return set.Program(kType);
     },
     PROGRAM_MEDIA_SYSTEM_MISMATCH, "orvik: update: the last block scan did not finish"},
    {"full format whose first erase gets an error",
     [](FirmwareSet& set, sim::Player& player) {
       set.Scan(kType);
       player.AddTransferFault({1, sim::TransferFault::Kind::kError});
       return set.FullFormat(kType, 1);
     },
     PROGRAM_MEDIA_DONE,
     "orvik: full format: erasing block 1 failed: the device reported an error"},
    {"quick format cut off by a dropped connection",
     [](FirmwareSet& set, sim::Player& player) {
       set.Scan(kType);
       player.AddTransferFault({3, sim::TransferFault::Kind::kDisconnect});
       ORVIK_ULONG types[1] = {kType};
       return OrvikQuickFormatPelk(types, 0, 0, &set.Record(), nullptr);
     },
     PROGRAM_MEDIA_FORMAT_FAILED, "orvik: quick format: erasing block 2 failed: "},
    {"data-area erase without a table",
     [](FirmwareSet&, sim::Player&) {
       ORVIK_ULONG types[1] = {kType};
       return OrvikFatEraseDataArea(types, 0, nullptr);
     },
     PROGRAM_MEDIA_FORMAT_FAILED, "orvik: data-area erase: no block status table"},
};

class FailureTraceTest : public SimPlayerTest, public ::testing::WithParamInterface<Failure> {
 protected:
  void SetUp() override {
    set_.Add('P', FILE_KIND_RAW, RawFile(3000, 1, {}));
    StartPlayer(kType);
    ReserveBlocks(8, 4096);
  }
  FirmwareSet set_;
};

TEST_P(FailureTraceTest, SaysWhatFailedOnlyWhenTracing) {
  const Failure& failure = GetParam();
  os_.traceEnabled = true;
  EXPECT_EQ(failure.run(set_, *player_), failure.status);
  EXPECT_NE(os_.debugText.find(failure.line), std::string::npos) << os_.debugText;

  OrvikFreeMemoryDevice(0);
  OrvikCloseDriver();
  player_->Unregister();
  StartPlayer(kType);
  os_.traceEnabled = false;
  os_.debugText.clear();
  EXPECT_EQ(failure.run(set_, *player_), failure.status);
  EXPECT_EQ(os_.debugText.find("orvik:"), std::string::npos) << os_.debugText;
}

INSTANTIATE_TEST_SUITE_P(Operations, FailureTraceTest, ::testing::ValuesIn(kFailures),
                         NameOfCase());

}  // namespace
}  // namespace orvik::testing
