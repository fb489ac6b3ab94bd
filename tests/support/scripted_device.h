// A recording device for wire tests: it captures every transfer and control
// request the library makes and answers from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvik/orvik.h"
#include "platform/device_driver.h"

namespace orvik::testing {

struct Recorded {
  enum class Kind { kWrite, kRead, kControl };
  Kind kind;
  uint32_t length = 0;        // bytes written, read length asked for, or output size
  std::vector<uint8_t> data;  // bytes written, or a control request's input
  uint32_t code = 0;          // control code
};

// How the next write or read is answered.
struct ScriptedAnswer {
  std::vector<uint8_t> bytes;  // read data (the rest of the request reads as 0)
  os::DeviceAnswer answer;     // count is replaced by the request size when fullCount
  bool fullCount = true;
};

class ScriptedDevice {
 public:
  // Registers the device object under name until destroyed.
  explicit ScriptedDevice(std::string name = "TEMBROr0");
  ~ScriptedDevice();
  ScriptedDevice(const ScriptedDevice&) = delete;
  ScriptedDevice& operator=(const ScriptedDevice&) = delete;

  // Queues the reply of the next read: these bytes, the full request size.
  void QueueReply(std::vector<uint8_t> bytes);
  // Queues how the next read (or write) is answered.
  void QueueReadAnswer(ScriptedAnswer answer);
  void QueueWriteAnswer(ScriptedAnswer answer);

  std::vector<Recorded> Transfers() const;  // writes and reads, in order
  std::vector<Recorded> Controls() const;
  std::vector<Recorded> All() const;
  void ClearRecords();

  // Driver state answered by the control requests.
  struct DriverState {
    _USER_DATA userData{};
    uint32_t statusWord = 1;
    // Bytes the requests of a code return at most (a short answer); codes
    // not listed return their whole record or word.
    std::map<uint32_t, uint32_t> answerBytes;
    uint32_t versionWord = 0x0100;
    uint32_t chipId = 0x12345678;
    bool controlsFail = false;
    std::vector<uint32_t> failingCodes;  // control codes that fail
    uint32_t reconfigureRefusals = 0;
    bool refuseOpen = false;
    int openConnections = 0;
  };
  DriverState& State() { return shared_->state; }
  std::mutex& Mutex() { return shared_->mutex; }

  struct Shared {
    std::mutex mutex;
    DriverState state;
    std::vector<Recorded> records;
    std::deque<ScriptedAnswer> reads;
    std::deque<ScriptedAnswer> writes;
  };

 private:
  std::string name_;
  std::shared_ptr<Shared> shared_;
};

// The bytes of a little-endian 24-bit word sequence.
std::vector<uint8_t> Words24(std::initializer_list<uint32_t> words);

}  // namespace orvik::testing
