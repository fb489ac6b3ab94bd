// Page checks: ECC verdicts and block-address fields.
#include "sim/inspect/page_check.h"

#include <bit>

#include "sim/byte_runs.h"
#include "sim/inspect/page_ecc.h"

namespace orvik::sim::inspect {
namespace {

// Bit j of the 22 parity bits: line parities LP0..LP15 in code bytes 0 and
// 1, column parities CP0..CP5 in bits 2..7 of byte 2.
constexpr uint32_t kColumnMask = 0xFC;

bool Bit(const uint8_t* diff, uint32_t lineParity) {
  return (diff[lineParity / 8] >> (lineParity % 8)) & 1;
}

}  // namespace

EccCheck CheckEcc256(uint8_t* data, const uint8_t* storedCode) {
  uint8_t computed[3];
  ComputeEcc256(data, computed);
  const uint8_t diff[3] = {static_cast<uint8_t>(storedCode[0] ^ computed[0]),
                           static_cast<uint8_t>(storedCode[1] ^ computed[1]),
                           static_cast<uint8_t>((storedCode[2] ^ computed[2]) & kColumnMask)};
  const int differing = std::popcount(diff[0]) + std::popcount(diff[1]) + std::popcount(diff[2]);
  if (differing == 0) return {};
  if (differing == 1) return {EccVerdict::kCodeBitWrong};
  if (differing != 11) return {EccVerdict::kUncorrectable};

  // A single data bit: each pair LP(2k)/LP(2k+1) and CP(2k)/CP(2k+1) has
  // exactly one member flipped, and the odd members spell its position.
  uint32_t byte = 0;
  for (uint32_t k = 0; k < 8; ++k) {
    const bool even = Bit(diff, 2 * k), odd = Bit(diff, 2 * k + 1);
    if (even == odd) return {EccVerdict::kUncorrectable};
    if (odd) byte |= 1u << k;
  }
  uint32_t bit = 0;
  for (uint32_t k = 0; k < 3; ++k) {
    const bool even = (diff[2] >> (2 + 2 * k)) & 1, odd = (diff[2] >> (3 + 2 * k)) & 1;
    if (even == odd) return {EccVerdict::kUncorrectable};
    if (odd) bit |= 1u << k;
  }
  data[byte] = static_cast<uint8_t>(data[byte] ^ (1u << bit));
  return {EccVerdict::kCorrected, byte, bit};
}

std::optional<uint32_t> DecodeBlockAddress(uint8_t low, uint8_t high) {
  if ((low & 0xF8) != 0x10) return std::nullopt;
  if ((std::popcount(low) + std::popcount(high)) % 2 != 0) return std::nullopt;
  return (uint32_t{low & 0x07u} << 7) | (uint32_t{high} >> 1);
}

AddressFields ReadAddressFields(const uint8_t* spare) {
  const auto first = DecodeBlockAddress(spare[kSpareAddress1], spare[kSpareAddress1 + 1]);
  const auto second = DecodeBlockAddress(spare[kSpareAddress2], spare[kSpareAddress2 + 1]);
  AddressFields fields;
  fields.logicalBlock = first ? first : second;
  fields.copiesDisagree = first && second && *first != *second;
  return fields;
}

bool PageIsErased(const uint8_t* rawPage) { return AllBytesAre(rawPage, kPageBytes, 0xFF); }

}  // namespace orvik::sim::inspect
