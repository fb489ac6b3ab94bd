// The player's command interpreter behind the driver's byte stream.
//
// Each exchange is one write of a whole frame, then either one write of a
// data block or one read of the reply.  Reads ask for the reply rounded up
// to whole 64-byte packets; the reply is padded with zeros to the length
// asked for.  Anything else is a protocol violation: the transfer fails
// with error 31, the exchange is dropped and the violation is counted.
#pragma once

#include <cstdint>
#include <string>

#include "sim/player_state.h"

namespace orvik::sim {

struct FirmwareAnswer {
  uint32_t error = 0;
  uint32_t count = 0;
  std::string decoded;  // what the transfer meant to the firmware
};

FirmwareAnswer FirmwareWrite(PlayerState& state, const uint8_t* data, uint32_t length);
FirmwareAnswer FirmwareRead(PlayerState& state, uint8_t* out, uint32_t length);
// Drops the exchange in progress (the host gave up on it, or the link reset).
void AbortExchange(PlayerState& state);

}  // namespace orvik::sim
