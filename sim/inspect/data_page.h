// A data page as the player's firmware writes a sector of the volume: the
// 512 data bytes, then a redundant area with both status bytes 0xFF, the
// ECC of each 256-byte half and the block-address field twice (spare_area.h).
#pragma once

#include <cstdint>

#include "sim/player.h"

namespace orvik::sim::inspect {

// The block-address field for a zone-relative logical block number (0 to
// 1023), low byte first as stored: 0x10 with bits 9-7 of the number, then
// bits 6-0 shifted left by one and a parity bit that makes the 16 bits
// hold an even number of ones.  DecodeBlockAddress (page_check.h) reads it.
uint16_t EncodeBlockAddress(uint32_t zoneRelativeBlock);

// The raw page that stores data (512 bytes) as a sector of the block.
RawPage BuildDataPage(const uint8_t* data, uint32_t zoneRelativeBlock);

}  // namespace orvik::sim::inspect
