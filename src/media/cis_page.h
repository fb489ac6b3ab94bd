// The card information page written into page 0 of the CIS block.
#pragma once

#include <array>
#include <cstdint>

namespace orvik::media {

// The card information structure is a chain of tuples, each a code byte, a
// link byte (the length of the body) and the body, closed by a no-link tuple
// and the end mark; 110 bytes of tuples, then 2 zero bytes.
inline constexpr uint32_t kCisBlockBytes = 112;
inline constexpr uint32_t kCisTupleBytes = 110;

// The tuple codes the structure uses.
inline constexpr uint8_t kTupleDevice = 0x01;             // device type, speed and size
inline constexpr uint8_t kTupleNoLink = 0x14;             // no link to another structure
inline constexpr uint8_t kTupleVersion1 = 0x15;           // version and name strings
inline constexpr uint8_t kTupleJedec = 0x18;              // programming algorithm identifiers
inline constexpr uint8_t kTupleConfig = 0x1A;             // where the configuration registers are
inline constexpr uint8_t kTupleConfigEntry = 0x1B;        // one configuration of the card
inline constexpr uint8_t kTupleManufacturer = 0x20;       // maker and card identifiers
inline constexpr uint8_t kTupleFunctionId = 0x21;         // the card's function: a fixed disk
inline constexpr uint8_t kTupleFunctionExtension = 0x22;  // details of that function
inline constexpr uint8_t kTupleEnd = 0xFF;                // the end mark

// Where each tuple starts in the block, in chain order.
struct CisTuple {
  uint32_t offset;
  uint8_t code;
};
inline constexpr std::array<CisTuple, 14> kCisTuples = {{
    {0, kTupleDevice},
    {5, kTupleJedec},
    {9, kTupleManufacturer},
    {15, kTupleFunctionId},
    {19, kTupleFunctionExtension},  // the disk interface
    {23, kTupleFunctionExtension},  // the disk's features
    {28, kTupleConfig},
    {35, kTupleConfigEntry},  // four configurations follow
    {45, kTupleConfigEntry},
    {57, kTupleConfigEntry},
    {71, kTupleConfigEntry},
    {85, kTupleVersion1},
    {107, kTupleNoLink},
    {109, kTupleEnd},
}};

extern const std::array<uint8_t, kCisBlockBytes> kCisBlock;

// Fills a 512-byte page: kCisBlock at offsets 0 and 256, every other byte 0.
// The page is written with logical block number 0xFFFF (no block address).
void BuildCisPage(uint8_t* page512);

}  // namespace orvik::media
