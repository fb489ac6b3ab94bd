// The card information page written into page 0 of the CIS block.
#pragma once

#include <array>
#include <cstdint>

namespace orvik::media {

inline constexpr uint32_t kCisBlockBytes = 112;

// The card information structure: 110 bytes of tuples (01 03 D9 01 FF ...
// FF 14 00 FF) and 2 zero bytes.
extern const std::array<uint8_t, kCisBlockBytes> kCisBlock;

// Fills a 512-byte page: kCisBlock at offsets 0 and 256, every other byte 0.
// The page is written with logical block number 0xFFFF (no block address).
void BuildCisPage(uint8_t* page512);

}  // namespace orvik::media
