// The player's command interpreter, one handler per command class.  A
// handler checks a whole frame and says how the exchange goes on: a reply
// to be read, a data block to be written, or a violation of the protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/frame.h"
#include "sim/player_state.h"

namespace orvik::sim {

struct CommandOutcome {
  enum class Kind { kViolation, kReply, kData };
  Kind kind = Kind::kViolation;
  std::string text;  // the frame decoded, or what is wrong with it
  std::vector<uint8_t> reply;
  uint32_t replyError = 0;
  uint32_t dataLength = 0;
  uint32_t dataError = 0;
  std::function<void(PlayerState&, const uint8_t*)> store;

  static CommandOutcome Violation(std::string why) {
    CommandOutcome outcome;
    outcome.text = std::move(why);
    return outcome;
  }
  static CommandOutcome Reply(std::string what, std::vector<uint8_t> bytes) {
    CommandOutcome outcome;
    outcome.kind = Kind::kReply;
    outcome.text = std::move(what);
    outcome.reply = std::move(bytes);
    return outcome;
  }
  static CommandOutcome FailedReply(std::string what, uint32_t error) {
    CommandOutcome outcome = Reply(std::move(what), {});
    outcome.replyError = error;
    return outcome;
  }
  static CommandOutcome Data(std::string what, uint32_t length,
                             std::function<void(PlayerState&, const uint8_t*)> store) {
    CommandOutcome outcome;
    outcome.kind = Kind::kData;
    outcome.text = std::move(what);
    outcome.dataLength = length;
    outcome.store = std::move(store);
    return outcome;
  }
};

CommandOutcome HandleDeviceCommand(PlayerState& state, const Frame& frame);
CommandOutcome HandleFlashCommand(PlayerState& state, const Frame& frame);
CommandOutcome HandleCardCommand(PlayerState& state, const Frame& frame);

}  // namespace orvik::sim
