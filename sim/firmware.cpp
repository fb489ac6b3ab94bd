#include "sim/firmware.h"

#include <cstring>

#include "sim/commands.h"

namespace orvik::sim {
namespace {

uint32_t RoundUpToPacket(size_t bytes) { return static_cast<uint32_t>((bytes + 63) / 64 * 64); }

FirmwareAnswer Violation(PlayerState& state, const std::string& why) {
  state.NoteViolation(why);
  AbortExchange(state);
  return FirmwareAnswer{os::kErrorGeneralFailure, 0, "protocol violation: " + why};
}

void FinishExchange(PlayerState& state) {
  ++state.stats.exchanges;
  state.exchange = ExchangeState{};
}

FirmwareAnswer StartExchange(PlayerState& state, const uint8_t* data, uint32_t length) {
  if (length < 3 || length % 3 != 0)
    return Violation(state, "frame of " + std::to_string(length) + " bytes");
  Frame frame(data, length);
  CommandOutcome outcome;
  switch (frame.Class()) {
    case kClassDevice:
      outcome = HandleDeviceCommand(state, frame);
      break;
    case kClassFlash:
      outcome = HandleFlashCommand(state, frame);
      break;
    case kClassCard:
      outcome = HandleCardCommand(state, frame);
      break;
    default:
      outcome = CommandOutcome::Violation("command word " + Hex(frame.CommandWord()) +
                                          " of no known class");
  }
  if (outcome.kind == CommandOutcome::Kind::kViolation) return Violation(state, outcome.text);
  ++state.stats.framesByCommand[frame.CommandWord()];
  ExchangeState& exchange = state.exchange;
  exchange = ExchangeState{};
  exchange.what = outcome.text;
  if (outcome.kind == CommandOutcome::Kind::kReply) {
    exchange.phase = ExchangeState::Phase::kAwaitingReply;
    exchange.reply = std::move(outcome.reply);
    exchange.replyError = outcome.replyError;
  } else {
    exchange.phase = ExchangeState::Phase::kAwaitingData;
    exchange.dataLength = outcome.dataLength;
    exchange.dataError = outcome.dataError;
    exchange.store = std::move(outcome.store);
  }
  return FirmwareAnswer{0, length, outcome.text};
}

FirmwareAnswer TakeData(PlayerState& state, const uint8_t* data, uint32_t length) {
  ExchangeState& exchange = state.exchange;
  if (length != exchange.dataLength)
    return Violation(state, exchange.what + ": data block of " + std::to_string(length) +
                                " bytes, expected " + std::to_string(exchange.dataLength));
  std::string what = exchange.what + " (data)";
  uint32_t error = exchange.dataError;
  if (error == 0) exchange.store(state, data);
  FinishExchange(state);
  return FirmwareAnswer{error, error == 0 ? length : 0, what};
}

}  // namespace

void AbortExchange(PlayerState& state) { state.exchange = ExchangeState{}; }

FirmwareAnswer FirmwareWrite(PlayerState& state, const uint8_t* data, uint32_t length) {
  ExchangeState& exchange = state.exchange;
  switch (exchange.phase) {
    case ExchangeState::Phase::kIdle:
      return StartExchange(state, data, length);
    case ExchangeState::Phase::kAwaitingData:
      if (exchange.resyncAllowed && length != exchange.dataLength) break;
      return TakeData(state, data, length);
    case ExchangeState::Phase::kAwaitingReply:
      if (exchange.resyncAllowed) break;
      return Violation(state, exchange.what + ": a write where the reply was to be read");
  }
  // The host gave up on the exchange that a fault disturbed: a new frame.
  AbortExchange(state);
  return StartExchange(state, data, length);
}

FirmwareAnswer FirmwareRead(PlayerState& state, uint8_t* out, uint32_t length) {
  ExchangeState& exchange = state.exchange;
  if (exchange.phase != ExchangeState::Phase::kAwaitingReply) {
    if (exchange.resyncAllowed) {
      AbortExchange(state);
      return FirmwareAnswer{os::kErrorGeneralFailure, 0, "read without a reply"};
    }
    if (exchange.phase == ExchangeState::Phase::kIdle)
      return Violation(state, "a read without a frame");
    return Violation(state, exchange.what + ": a read where a data block was to be written");
  }
  size_t replyLength = exchange.reply.size();
  std::string what = exchange.what + " (reply)";
  if (exchange.replyError != 0) {
    uint32_t error = exchange.replyError;
    FinishExchange(state);
    return FirmwareAnswer{error, 0, what};
  }
  if (length < replyLength || length > RoundUpToPacket(replyLength))
    return Violation(state, exchange.what + ": read of " + std::to_string(length) +
                                " bytes for a reply of " + std::to_string(replyLength));
  std::memcpy(out, exchange.reply.data(), replyLength);
  std::memset(out + replyLength, 0, length - replyLength);
  FinishExchange(state);
  return FirmwareAnswer{0, length, what};
}

}  // namespace orvik::sim
