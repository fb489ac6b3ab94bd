// The recording device.
#include "support/scripted_device.h"

#include <algorithm>
#include <cstring>

#include "transport/control_requests.h"

namespace orvik::testing {
namespace {

class ScriptedConnection : public os::DeviceConnection {
 public:
  explicit ScriptedConnection(std::shared_ptr<ScriptedDevice::Shared> shared)
      : shared_(std::move(shared)) {}
  ~ScriptedConnection() override {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    --shared_->state.openConnections;
  }

  os::DeviceAnswer Write(const uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    std::vector<uint8_t> written;
    if (data != nullptr) written.assign(data, data + length);
    shared_->records.push_back(Recorded{Recorded::Kind::kWrite, length, written, 0});
    ScriptedAnswer script;
    if (!shared_->writes.empty()) {
      script = std::move(shared_->writes.front());
      shared_->writes.pop_front();
    }
    os::DeviceAnswer answer = script.answer;
    if (script.fullCount) answer.count = length;
    return answer;
  }

  os::DeviceAnswer Read(uint8_t* data, uint32_t length) override {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    shared_->records.push_back(Recorded{Recorded::Kind::kRead, length, {}, 0});
    ScriptedAnswer script;
    if (!shared_->reads.empty()) {
      script = std::move(shared_->reads.front());
      shared_->reads.pop_front();
    }
    std::fill(data, data + length, uint8_t{0});
    std::copy_n(script.bytes.begin(), std::min<size_t>(script.bytes.size(), length), data);
    os::DeviceAnswer answer = script.answer;
    if (script.fullCount) answer.count = length;
    return answer;
  }

  os::DeviceAnswer Control(uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                           uint32_t outLength) override {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    std::vector<uint8_t> input;
    if (in != nullptr) input.assign(in, in + inLength);
    shared_->records.push_back(Recorded{Recorded::Kind::kControl, outLength, input, code});
    auto& state = shared_->state;
    if (state.controlsFail || std::find(state.failingCodes.begin(), state.failingCodes.end(),
                                        code) != state.failingCodes.end())
      return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
    auto found = state.answerBytes.find(code);
    uint32_t limit = found == state.answerBytes.end() ? outLength : found->second;
    auto word = [&](uint32_t value) {
      uint32_t n = std::min({limit, outLength, 4u});
      if (n != 0) std::memcpy(out, &value, n);
      return os::DeviceAnswer::Done(n);
    };
    switch (code) {
      case transport::kIoctlGetUserData: {
        uint32_t n = std::min<uint32_t>({limit, outLength, sizeof state.userData});
        if (n != 0) std::memcpy(out, &state.userData, n);
        return os::DeviceAnswer::Done(n);
      }
      case transport::kIoctlSetUserData:
        if (inLength < sizeof state.userData)
          return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
        std::memcpy(&state.userData, in, sizeof state.userData);
        return os::DeviceAnswer::Done(0);
      case transport::kIoctlReconfigure:
        if (state.reconfigureRefusals > 0) {
          --state.reconfigureRefusals;
          return os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
        }
        return os::DeviceAnswer::Done(0);
      case transport::kIoctlGetDeviceVersion:
        return word(state.versionWord);
      case transport::kIoctlGetDeviceStatus:
        return word(state.statusWord);
      case transport::kIoctlGetChipId:
        return word(state.chipId);
      default:
        return os::DeviceAnswer::Failed(os::kErrorNotSupported);
    }
  }

 private:
  std::shared_ptr<ScriptedDevice::Shared> shared_;
};

class ScriptedDriver : public os::DeviceDriver {
 public:
  explicit ScriptedDriver(std::shared_ptr<ScriptedDevice::Shared> shared)
      : shared_(std::move(shared)) {}
  std::unique_ptr<os::DeviceConnection> Open() override {
    std::lock_guard<std::mutex> guard(shared_->mutex);
    if (shared_->state.refuseOpen) return nullptr;
    ++shared_->state.openConnections;
    return std::make_unique<ScriptedConnection>(shared_);
  }

 private:
  std::shared_ptr<ScriptedDevice::Shared> shared_;
};

}  // namespace

ScriptedDevice::ScriptedDevice(std::string name)
    : name_(std::move(name)), shared_(std::make_shared<Shared>()) {
  os::RegisterDevice(name_, std::make_shared<ScriptedDriver>(shared_));
}

ScriptedDevice::~ScriptedDevice() { os::UnregisterDevice(name_); }

void ScriptedDevice::QueueReply(std::vector<uint8_t> bytes) {
  ScriptedAnswer answer;
  answer.bytes = std::move(bytes);
  QueueReadAnswer(std::move(answer));
}

void ScriptedDevice::QueueReadAnswer(ScriptedAnswer answer) {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  shared_->reads.push_back(std::move(answer));
}

void ScriptedDevice::QueueWriteAnswer(ScriptedAnswer answer) {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  shared_->writes.push_back(std::move(answer));
}

std::vector<Recorded> ScriptedDevice::All() const {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  return shared_->records;
}

std::vector<Recorded> ScriptedDevice::Transfers() const {
  std::vector<Recorded> result;
  for (auto& record : All())
    if (record.kind != Recorded::Kind::kControl) result.push_back(record);
  return result;
}

std::vector<Recorded> ScriptedDevice::Controls() const {
  std::vector<Recorded> result;
  for (auto& record : All())
    if (record.kind == Recorded::Kind::kControl) result.push_back(record);
  return result;
}

void ScriptedDevice::ClearRecords() {
  std::lock_guard<std::mutex> guard(shared_->mutex);
  shared_->records.clear();
}

std::vector<uint8_t> Words24(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> bytes;
  for (uint32_t word : words) {
    bytes.push_back(static_cast<uint8_t>(word));
    bytes.push_back(static_cast<uint8_t>(word >> 8));
    bytes.push_back(static_cast<uint8_t>(word >> 16));
  }
  return bytes;
}

}  // namespace orvik::testing
