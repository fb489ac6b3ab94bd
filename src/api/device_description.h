// What the open-time description read learnt about the player.
#pragma once

#include <cstdint>

namespace orvik::api {

// The flash-interface (DCC) version; 0 until a description was read.  Above
// 0x100 the flash commands carry direction bits.
uint32_t DccVersion();
void SetDccVersion(uint32_t version);

}  // namespace orvik::api
