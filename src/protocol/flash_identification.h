// Identifying the flash (or sizing the card) as one of the known types.
#pragma once

#include <cstdint>

#include "protocol/command_frame.h"

namespace orvik::protocol {

inline constexpr uint32_t CMD_FLASH_READ_ID = 0x06;

// Maps maker and device code to a type index (36 when unknown).
uint32_t FlashTypeForIdentification(uint8_t maker, uint8_t device);

// Sends the read-id command for a chip; on success stores whether the flash
// answered and its type index.  Outputs are untouched when the exchange fails.
bool FlashReadId(uint32_t* present, uint32_t* flashType, uint8_t chip, CommandForm form);

// The type whose size fits a card of this many 512-byte blocks, by size in
// MiB (computed in 64 bits: cards of 4 GiB and more map to 36, like every
// card above 512 MiB).
uint32_t MmcSizeToFlashType(uint32_t capacityBlocks);

}  // namespace orvik::protocol
