// Register images of the simulated MMC card, laid out as the card sends
// them: most significant byte first, CRC7 in the last byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvik::sim {

// CRC7 (polynomial x^7 + x^3 + 1) of the bytes, as used by card registers.
uint8_t CardCrc7(const uint8_t* bytes, size_t length);

// A CID for a simulated card: maker 0, product "SIMCRD", the serial number
// given, then two trailing bytes of 0 (the player sends 18 bytes).
std::array<uint8_t, 18> DefaultCardCid(uint32_t serial);

// A version 1.x CSD whose size fields encode capacityBlocks (rounded down to
// what the fields can express) and whose erase group is eraseGroupBlocks
// write blocks (1..32).
std::array<uint8_t, 16> CardCsdForCapacity(uint32_t capacityBlocks, uint8_t eraseGroupBlocks);

// The capacity in 512-byte blocks that a version 1.x CSD describes.
uint64_t CardCapacityFromCsd(const std::array<uint8_t, 16>& csd);

}  // namespace orvik::sim
