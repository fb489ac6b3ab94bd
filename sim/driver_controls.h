// The control requests of the player's kernel driver: the host's 16-byte
// record, the device status, version and chip words, and reconfigure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device_driver.h"
#include "sim/player_state.h"

namespace orvik::sim {

inline constexpr uint32_t kIoctlGetUserData = 0x222000;
inline constexpr uint32_t kIoctlSetUserData = 0x222004;
inline constexpr uint32_t kIoctlReconfigure = 0x222008;
inline constexpr uint32_t kIoctlGetDeviceVersion = 0x222018;
inline constexpr uint32_t kIoctlGetDeviceStatus = 0x22201C;
inline constexpr uint32_t kIoctlGetChipId = 0x222020;

// Name of a control code for traces ("get user data"), or "unknown".
const char* ControlName(uint32_t code);

// Carries out one control request.  Sizes must be exactly the request's:
// anything else fails with error 31 and counts as a protocol violation; an
// unknown code fails with error 1.
os::DeviceAnswer HandleControl(PlayerState& state, uint32_t code, const uint8_t* in,
                               uint32_t inLength, uint8_t* out, uint32_t outLength);

}  // namespace orvik::sim
