// Everything a simulated player holds, without its lock: the firmware and
// driver code work on this, the Player class guards it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orvik/orvik.h"
#include "sim/fault_injector.h"
#include "sim/geometry.h"
#include "sim/mmc_card.h"
#include "sim/nand_array.h"
#include "sim/player_config.h"
#include "sim/statistics.h"

namespace orvik::sim {

struct PlayerState;

// The exchange the firmware is in: after a frame it waits for the data
// block or for the read of its reply.
struct ExchangeState {
  enum class Phase { kIdle, kAwaitingData, kAwaitingReply };
  Phase phase = Phase::kIdle;
  std::string what;  // the frame, decoded
  // kAwaitingReply
  std::vector<uint8_t> reply;
  uint32_t replyError = 0;  // the reply read fails with this error (a card that cannot answer)
  // kAwaitingData
  uint32_t dataLength = 0;
  uint32_t dataError = 0;  // the data block is refused with this error
  std::function<void(PlayerState&, const uint8_t*)> store;
  // Set after an injected transfer fault: the host may have given up on the
  // exchange, so a transfer that does not fit starts afresh.
  bool resyncAllowed = false;
};

struct PlayerState {
  explicit PlayerState(const PlayerConfig& initial)
      : config(initial),
        geometry(GeometryOfFlashType(initial.flashType)),
        nand(geometry),
        card(initial.card),
        faults(initial.faults, initial.seed) {}

  PlayerConfig config;  // the card and fault settings live in card and faults
  FlashGeometry geometry;
  NandArray nand;
  MmcCard card;
  FaultInjector faults;
  Statistics stats;
  _USER_DATA userData{};
  bool powered = true;
  uint64_t transferCount = 0;  // transfers of the stream since the player was created or loaded
  ExchangeState exchange;
  uint64_t changeCount = 0;  // bumped by every change of flash or card contents

  // The player shows only its recovery device object: forced, or decided
  // by the startup check when it was last plugged in.
  bool InRecovery() const {
    return config.recoveryMode || config.started.mode == StartMode::kRecovery;
  }
  FlashIdCodes IdCodes() const {
    return config.idCodes ? *config.idCodes : DefaultIdCodes(config.flashType);
  }
  void NoteViolation(const std::string& text) {
    ++stats.protocolViolations;
    if (stats.violations.size() < 32) stats.violations.push_back(text);
  }
};

}  // namespace orvik::sim
