// With tracing on (ORVIK_DEBUG), every failing card operation explains
// itself in one debug line naming the step, the blocks or the drive, and the
// cause; with it off, nothing.
#include <cctype>
#include <functional>
#include <string>

#include "support/case_names.h"
#include "support/library_fixture.h"

namespace orvik::testing {
namespace {

ScriptedAnswer Failed() {
  ScriptedAnswer answer;
  answer.answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
  return answer;
}

ScriptedAnswer Gone() {
  ScriptedAnswer answer;
  answer.answer = os::DeviceAnswer::Failed(os::kErrorDeviceNotConnected);
  return answer;
}

// A register or erase reply whose first byte is the card's status.
std::vector<uint8_t> CardStatusReply(uint8_t status) { return {status, 0, 0}; }

struct CardFailure {
  const char* name;
  std::function<int(ScriptedDevice&)> run;  // scripts the device, returns the export's result
  const char* line;
};

uint8_t gBlock[2 * 512];
double gProgress = 0;

const CardFailure kFailures[] = {
    {"read whose frame fails",
     [](ScriptedDevice& device) {
       device.QueueWriteAnswer(Failed());
       return OrvikMMCReadBlock(0, 7, gBlock);
     },
     "orvik: card read of blocks 7 to 7: sending the frame failed: the device reported an error"},
    {"multiple write whose data gets no answer",
     [](ScriptedDevice& device) {
       device.QueueWriteAnswer({});
       device.QueueWriteAnswer(Gone());
       return OrvikMMCWriteMultipleBlock(0, 9, 2, gBlock);
     },
     "orvik: card write of blocks 9 to 10: writing the data failed: the device did not answer"},
    {"read beyond the addressable blocks",
     [](ScriptedDevice&) { return OrvikMMCReadMultipleBlock(0, 8388607, 2, gBlock); },
     "orvik: card read of blocks 8388607 to 8388608: beyond the 4 GiB"},
    {"erase the card refuses",
     [](ScriptedDevice& device) {
       device.QueueReply(CardStatusReply(0x20));
       return OrvikMMCErase(0, 4, 32, nullptr);
     },
     "orvik: card erase of blocks 4 to 35: the card reported status 0x20"},
    {"bulk erase whose first group fails",
     [](ScriptedDevice& device) {
       std::vector<uint8_t> detect(15, 0);
       detect[12] = 32;  // the erase group
       device.QueueReply(detect);
       device.QueueReadAnswer(Failed());
       return OrvikMMCEraseAllBlocks(0, 64, &gProgress);
     },
     "orvik: card erase of blocks 0 to 31: the exchange failed: the device reported an error"},
    {"format of a card too small for a volume",
     [](ScriptedDevice&) { return OrvikMMCFormat(0, 10, &gProgress); },
     "orvik: card format: a card of 10 blocks holds no FAT volume"},
    {"format without a progress pointer",
     [](ScriptedDevice&) { return OrvikMMCFormat(0, 0, nullptr); },
     "orvik: card format: no progress pointer given"},
    {"detect with no card",
     [](ScriptedDevice& device) {
       device.QueueReply(CardStatusReply(0x01));
       return OrvikMMCDetectMedia(0, nullptr, nullptr, nullptr, nullptr);
     },
     "orvik: card detect on drive 0: the card reported status 0x01"},
    {"CSD read whose reply fails",
     [](ScriptedDevice& device) {
       device.QueueReadAnswer(Gone());
       _MMC_CSD csd{};
       return OrvikMMCReadCSD(0, &csd, nullptr);
     },
     "orvik: card CSD read on drive 0: the exchange failed: the device did not answer"},
    {"status read whose frame fails",
     [](ScriptedDevice& device) {
       device.QueueWriteAnswer(Failed());
       return OrvikMMCReadStatus(0, nullptr);
     },
     "orvik: card status read on drive 0: the exchange failed"},
    {"CSD programming the card refuses",
     [](ScriptedDevice& device) {
       device.QueueReply(CardStatusReply(0x04));
       _MMC_CSD csd{};
       return OrvikMMCProgramCSD(0, &csd, nullptr);
     },
     "orvik: card CSD programming on drive 0: the card reported status 0x04"},
};

class CardFailureTraceTest : public LibraryTest, public ::testing::WithParamInterface<CardFailure> {
 protected:
  void SetUp() override { OpenQuietly(); }
};

TEST_P(CardFailureTraceTest, SaysWhatFailedOnlyWhenTracing) {
  const CardFailure& failure = GetParam();
  os_.traceEnabled = true;
  EXPECT_EQ(failure.run(device_), 0);
  EXPECT_NE(os_.debugText.find(failure.line), std::string::npos) << os_.debugText;
  EXPECT_EQ(os_.debugText.find("orvik:"), os_.debugText.rfind("orvik:")) << "one line only";

  os_.traceEnabled = false;
  os_.debugText.clear();
  EXPECT_EQ(failure.run(device_), 0);
  EXPECT_EQ(os_.debugText.find("orvik:"), std::string::npos) << os_.debugText;
}

INSTANTIATE_TEST_SUITE_P(CardOperations, CardFailureTraceTest, ::testing::ValuesIn(kFailures),
                         NameOfCase());

}  // namespace
}  // namespace orvik::testing
