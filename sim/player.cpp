#include "sim/player.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "sim/driver_controls.h"
#include "sim/firmware.h"
#include "sim/player_connection.h"
#include "sim/player_state.h"
#include "sim/random.h"
#include "sim/spare_area.h"
#include "sim/startup_check.h"

namespace orvik::sim {
namespace {

constexpr size_t kTraceHeadBytes = 32;
constexpr uint32_t kFactoryBadMarkOffset = kPageDataBytes + kSpareBlockStatus;

os::DeviceAnswer Dropped() {
  return os::DeviceAnswer{os::kErrorGeneralFailure, 0, os::DeviceAnswer::Timing::kDisconnect, 0};
}

os::DeviceAnswer CarryOut(PlayerState& state, bool isWrite, const uint8_t* in, uint8_t* out,
                          uint32_t length, std::string* decoded) {
  FirmwareAnswer answer;
  if (isWrite) {
    answer = FirmwareWrite(state, in, length);
  } else {
    answer = FirmwareRead(state, out, length);
  }
  *decoded = answer.decoded;
  return os::DeviceAnswer{answer.error, answer.count, os::DeviceAnswer::Timing::kNow, 0};
}

// A transfer that an injected fault spoils.  Faults that keep the transfer
// from the firmware also end the exchange in progress, as a reset link does.
os::DeviceAnswer CarryOutWithFault(PlayerState& state, const TransferFault& fault, bool isWrite,
                                   const uint8_t* in, uint8_t* out, uint32_t length,
                                   std::string* decoded) {
  uint64_t number = state.transferCount;
  std::string where = "transfer " + std::to_string(number);
  os::DeviceAnswer answer;
  switch (fault.kind) {
    case TransferFault::Kind::kError:
      AbortExchange(state);
      answer = os::DeviceAnswer::Failed(fault.error == 0 ? os::kErrorGeneralFailure : fault.error);
      state.faults.Record(InjectedFault::Kind::kTransferError, number, where);
      *decoded = "injected error";
      break;
    case TransferFault::Kind::kShort:
      if (isWrite) {
        AbortExchange(state);
        answer = os::DeviceAnswer::Done(length / 2);
        *decoded = "injected short write";
      } else {
        answer = CarryOut(state, isWrite, in, out, length, decoded);
        if (answer.error == 0) answer.count = length / 2;
        *decoded += ", cut short";
      }
      state.faults.Record(InjectedFault::Kind::kShortTransfer, number, where);
      break;
    case TransferFault::Kind::kStall:
      AbortExchange(state);
      answer = os::DeviceAnswer{0, 0, os::DeviceAnswer::Timing::kNever, 0};
      state.faults.Record(InjectedFault::Kind::kStall, number, where);
      *decoded = "injected stall";
      break;
    case TransferFault::Kind::kLate:
      answer = CarryOut(state, isWrite, in, out, length, decoded);
      answer.timing = os::DeviceAnswer::Timing::kLate;
      answer.delayMs = fault.delayMs;
      state.faults.Record(InjectedFault::Kind::kLateAnswer, number,
                          where + " by " + std::to_string(fault.delayMs) + " ms");
      *decoded += ", answered late";
      break;
    case TransferFault::Kind::kDisconnect:
      AbortExchange(state);
      answer = Dropped();
      state.faults.Record(InjectedFault::Kind::kDisconnect, number, where);
      *decoded = "injected disconnect";
      break;
  }
  state.exchange.resyncAllowed = true;
  return answer;
}

constexpr const char* kForcedReason = "recovery mode forced (sim mode --recovery-mode)";

// What the player comes up as after the startup check found this.
StartRecord DecideStart(PlayerConfig& config, const StartupCheck& check) {
  StartRecord started = config.started;
  ++started.plugIns;
  if (check.whole) {
    config.factoryStart = false;  // from now on the flash alone decides
    started.mode = StartMode::kNormal;
    started.reason = check.reason;
  } else if (config.factoryStart) {
    started.mode = StartMode::kNormal;
    started.reason =
        "as delivered: it starts until it first holds a whole startup copy (" + check.reason + ")";
  } else {
    started.mode = StartMode::kRecovery;
    started.reason = check.reason;
  }
  return started;
}

void Wait(std::optional<BusClock::Clock::time_point> until) {
  if (until) std::this_thread::sleep_until(*until);
}

}  // namespace

Player::Player(std::unique_ptr<PlayerState> state) : state_(std::move(state)) {}

Player::~Player() {
  if (!registeredName_.empty() && os::FindRegisteredDevice(registeredName_) == driver_)
    os::UnregisterDevice(registeredName_);
}

std::shared_ptr<Player> Player::Create(const PlayerConfig& config) {
  if (!IsValidFlashType(config.flashType))
    throw std::invalid_argument("flash type " + std::to_string(config.flashType) +
                                " is not one of 0..35");
  auto state = std::make_unique<PlayerState>(config);
  const uint8_t badMark = 0x00;
  for (uint32_t block : config.factoryBadBlocks) {
    if (block >= state->geometry.blockCount)
      throw std::invalid_argument("factory bad block " + std::to_string(block) +
                                  " outside the flash");
    state->nand.SetPageBytes(block * state->geometry.pagesPerBlock, kFactoryBadMarkOffset, &badMark,
                             1);
  }
  return std::shared_ptr<Player>(new Player(std::move(state)));
}

std::string Player::ObjectName() const {
  std::lock_guard<std::mutex> guard(mutex_);
  const PlayerConfig& config = state_->config;
  return std::string(state_->InRecovery() ? os::kRecoveryObjectPrefix : os::kDeviceObjectPrefix) +
         std::to_string(config.instance);
}

std::shared_ptr<os::DeviceDriver> Player::Driver() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (driver_ == nullptr) driver_ = std::make_shared<PlayerDriver>(weak_from_this());
  return driver_;
}

void Player::Register() {
  std::shared_ptr<os::DeviceDriver> driver = Driver();
  std::string name = ObjectName();
  Unregister();
  os::RegisterDevice(name, driver);
  std::lock_guard<std::mutex> guard(mutex_);
  registeredName_ = name;
}

void Player::Unregister() {
  std::string name;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    name.swap(registeredName_);
  }
  if (!name.empty() && os::FindRegisteredDevice(name) == driver_) os::UnregisterDevice(name);
}

void Player::SetRecoveryMode(bool recovery) {
  bool registered;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    state_->config.recoveryMode = recovery;
    registered = !registeredName_.empty();
  }
  if (registered) Register();
}

void Player::SetInstance(int instance) {
  bool registered;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    state_->config.instance = instance;
    registered = !registeredName_.empty();
  }
  if (registered) Register();
}

std::unique_ptr<os::DeviceConnection> Player::Open() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (state_->config.driver.refuseOpen || !state_->powered) return nullptr;
  ++state_->stats.connectionsOpened;
  return std::make_unique<PlayerConnection>(shared_from_this(), nextConnection_++);
}

void Player::CloseConnection(uint64_t connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  brokenConnections_.erase(connection);
  // A handle closed mid-exchange leaves the firmware idle; one left over
  // from before a plug-in belongs to a device that is gone, and must not
  // end the exchange of a connection opened since.
  if (connection >= firstLiveConnection_) AbortExchange(*state_);
}

bool Player::ConnectionUsable(uint64_t connection) const {
  return state_->powered && connection >= firstLiveConnection_ &&
         brokenConnections_.count(connection) == 0;
}

os::DeviceAnswer Player::Transfer(uint64_t connection, bool isWrite, const uint8_t* in,
                                  uint8_t* out, uint32_t length) {
  TraceEvent event;
  event.kind = isWrite ? TraceEvent::Kind::kWrite : TraceEvent::Kind::kRead;
  event.length = length;
  TraceCallback callback;
  os::DeviceAnswer answer;
  std::optional<BusClock::Clock::time_point> answerAt;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    PlayerState& state = *state_;
    callback = trace_;
    if (!ConnectionUsable(connection)) {
      answer = Dropped();
      event.decoded = state.powered ? "connection dropped" : "power is off";
    } else if ((isWrite ? in : out) == nullptr && length != 0) {
      answer = os::DeviceAnswer::Failed(os::kErrorGeneralFailure);
      event.decoded = "no buffer";
    } else {
      uint64_t number = ++state.transferCount;
      event.transfer = number;
      ++state.stats.transfers;
      ++(isWrite ? state.stats.writes : state.stats.reads);
      if (auto fault = state.faults.TakeTransferFault(number)) {
        answer = CarryOutWithFault(state, *fault, isWrite, in, out, length, &event.decoded);
        if (fault->kind == TransferFault::Kind::kDisconnect) brokenConnections_.insert(connection);
      } else {
        answer = CarryOut(state, isWrite, in, out, length, &event.decoded);
      }
      bool delivered = answer.error == 0 && answer.timing != os::DeviceAnswer::Timing::kNever &&
                       answer.timing != os::DeviceAnswer::Timing::kDisconnect;
      if (delivered) (isWrite ? state.stats.bytesIn : state.stats.bytesOut) += answer.count;
      // A transfer never answered, or cut off by a dropped link, takes no
      // bus time the host waits for.
      const bool answered = answer.timing == os::DeviceAnswer::Timing::kNow ||
                            answer.timing == os::DeviceAnswer::Timing::kLate;
      if (answered) {
        const uint64_t cost = TransferCostMicros(state.config.bus, delivered ? answer.count : 0);
        state.stats.busMicros += cost;
        answerAt = bus_.Schedule(cost);
      }
      if (state.faults.PowerCutAfter(number)) {
        state.powered = false;
        AbortExchange(state);
      }
    }
    const uint8_t* moved = isWrite ? in : out;
    size_t headBytes = std::min<size_t>(isWrite ? length : answer.count, kTraceHeadBytes);
    if (moved != nullptr) event.head.assign(moved, moved + std::min<size_t>(headBytes, length));
    event.count = answer.count;
    event.error = answer.error;
  }
  Wait(answerAt);
  if (callback) callback(event);
  return answer;
}

os::DeviceAnswer Player::Control(uint64_t connection, uint32_t code, const uint8_t* in,
                                 uint32_t inLength, uint8_t* out, uint32_t outLength) {
  TraceEvent event;
  event.kind = TraceEvent::Kind::kControl;
  event.code = code;
  event.length = outLength;
  event.decoded = ControlName(code);
  TraceCallback callback;
  os::DeviceAnswer answer;
  std::optional<BusClock::Clock::time_point> answerAt;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    callback = trace_;
    if (!ConnectionUsable(connection)) {
      answer = Dropped();
    } else {
      ++state_->stats.controlRequests;
      answer = HandleControl(*state_, code, in, inLength, out, outLength);
      if (answer.error == 0) state_->stats.bytesOut += answer.count;
      const uint64_t cost = ControlCostMicros(state_->config.bus);
      state_->stats.busMicros += cost;
      answerAt = bus_.Schedule(cost);
    }
    if (answer.error == 0 && out != nullptr)
      event.head.assign(out, out + std::min<size_t>(answer.count, kTraceHeadBytes));
    else if (in != nullptr)
      event.head.assign(in, in + std::min<size_t>(inLength, kTraceHeadBytes));
    event.count = answer.count;
    event.error = answer.error;
  }
  Wait(answerAt);
  if (callback) callback(event);
  return answer;
}

PlayerConfig Player::ConfigLocked() const {
  PlayerConfig config = state_->config;
  config.idCodes = state_->IdCodes();
  config.card = state_->card.Config();
  config.faults = state_->faults.Pending(state_->transferCount);
  return config;
}

PlayerConfig Player::Config() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return ConfigLocked();
}

uint32_t Player::FlashType() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->config.flashType;
}

uint32_t Player::BlockCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->geometry.blockCount;
}

uint32_t Player::PagesPerBlock() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->geometry.pagesPerBlock;
}

uint32_t Player::PageCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->geometry.PageCount();
}

RawPage Player::ReadPage(uint32_t page) const {
  std::lock_guard<std::mutex> guard(mutex_);
  RawPage bytes{};
  state_->nand.ReadPage(page, bytes.data());
  return bytes;
}

void Player::ProgramPage(uint32_t page, const RawPage& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->nand.ProgramPage(page, 0, bytes.data(), kPageBytes);
  ++state_->changeCount;
}

void Player::SetPageRaw(uint32_t page, const RawPage& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->nand.SetPageBytes(page, 0, bytes.data(), kPageBytes);
  ++state_->changeCount;
}

void Player::EraseBlock(uint32_t block) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->nand.EraseBlock(block);
  ++state_->changeCount;
}

bool Player::IsBlockErased(uint32_t block) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->nand.IsBlockErased(block);
}

CardConfig Player::Card() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->card.Config();
}

void Player::SetCard(const CardConfig& card) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->card.Reconfigure(card);
  ++state_->changeCount;
}

CardBlock Player::ReadCardBlock(uint32_t block) const {
  std::lock_guard<std::mutex> guard(mutex_);
  CardBlock bytes{};
  state_->card.ReadBlock(block, bytes.data());
  return bytes;
}

void Player::WriteCardBlock(uint32_t block, const CardBlock& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->card.WriteBlock(block, bytes.data());
  ++state_->changeCount;
}

_USER_DATA Player::UserData() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->userData;
}

void Player::SetUserData(const _USER_DATA& data) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->userData = data;
}

DriverConfig Player::DriverSettings() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->config.driver;
}

void Player::SetDriverSettings(const DriverConfig& driver) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->config.driver = driver;
}

Statistics Player::Stats() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->stats;
}

void Player::ResetStats() {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->stats = Statistics{};
}

uint64_t Player::TransferCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->transferCount;
}

void Player::SetTrace(TraceCallback callback) {
  std::lock_guard<std::mutex> guard(mutex_);
  trace_ = std::move(callback);
}

FaultConfig Player::Faults() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->faults.Pending(state_->transferCount);
}

void Player::SetFaults(const FaultConfig& faults) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->faults.Configure(faults, state_->transferCount);
}

void Player::AddTransferFault(const TransferFault& fault) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->faults.AddTransferFault(fault, state_->transferCount);
}

std::vector<InjectedFault> Player::InjectedFaults() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->faults.Injected();
}

std::string Player::InjectedFaultSummary() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return state_->faults.Summary();
}

void Player::ClearInjectedFaults() {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->faults.ClearInjected();
}

bool Player::PowerLost() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return !state_->powered;
}

void Player::RestorePower() {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->powered = true;
  state_->userData = _USER_DATA{};
  AbortExchange(*state_);
}

void Player::PlugIn() {
  bool registered;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    PlayerState& state = *state_;
    state.powered = true;
    state.userData = _USER_DATA{};
    AbortExchange(state);
    firstLiveConnection_ = nextConnection_;
    brokenConnections_.clear();
    state.config.started = DecideStart(state.config, CheckStartupCopy(state.nand));
    registered = !registeredName_.empty();
  }
  if (registered) Register();
}

Player::StartState Player::Startup() const {
  std::lock_guard<std::mutex> guard(mutex_);
  const PlayerConfig& config = state_->config;
  StartState start;
  start.forced = config.recoveryMode;
  start.mode = state_->InRecovery() ? StartMode::kRecovery : StartMode::kNormal;
  start.reason = config.recoveryMode ? kForcedReason : config.started.reason;
  start.plugIns = config.started.plugIns;
  return start;
}

void Player::SetBusTiming(const BusTiming& timing) {
  std::lock_guard<std::mutex> guard(mutex_);
  state_->config.bus = timing;
}

std::vector<uint32_t> PickFactoryBadBlocks(uint32_t flashType, uint32_t count, uint64_t seed) {
  FlashGeometry geometry = GeometryOfFlashType(flashType);
  uint32_t candidates = geometry.blockCount - 1;  // blocks 1..blockCount-1
  std::vector<uint32_t> blocks;
  if (count >= candidates) {
    for (uint32_t block = 1; block < geometry.blockCount; ++block) blocks.push_back(block);
    return blocks;
  }
  SeededRandom random(seed);
  std::set<uint32_t> chosen;
  while (chosen.size() < count) chosen.insert(1 + static_cast<uint32_t>(random.Below(candidates)));
  return {chosen.begin(), chosen.end()};
}

}  // namespace orvik::sim
