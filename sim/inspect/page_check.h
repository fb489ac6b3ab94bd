// Checks of one raw page of a simulated flash as a SmartMedia reader makes
// them: the ECC of each 256-byte half and the block-address fields.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/geometry.h"
#include "sim/spare_area.h"

namespace orvik::sim::inspect {

enum class EccVerdict {
  kClean,          // data and code agree
  kCorrected,      // one data bit was wrong and has been put right
  kCodeBitWrong,   // one bit of the stored code is wrong, the data is fine
  kUncorrectable,  // more than one bit differs
};

struct EccCheck {
  EccVerdict verdict = EccVerdict::kClean;
  uint32_t byte = 0;  // kCorrected: the byte of the half that was wrong
  uint32_t bit = 0;   // and its bit
};

// Checks 256 data bytes against their stored 3-byte code; a single wrong
// data bit is corrected in place.
EccCheck CheckEcc256(uint8_t* data, const uint8_t* storedCode);

// The logical block number a block-address field holds (low byte first, as
// stored), or nullopt when it is not a valid field: its fixed bits are not
// 0 0 0 1 0 or its 16 bits hold an odd number of ones.
std::optional<uint32_t> DecodeBlockAddress(uint8_t low, uint8_t high);

// What the two copies of a page's block-address field say.
struct AddressFields {
  std::optional<uint32_t> logicalBlock;  // the first valid copy
  bool copiesDisagree = false;           // both valid, with different numbers
};
AddressFields ReadAddressFields(const uint8_t* spare);

// True when every byte of the raw page (data and spare) is 0xFF.
bool PageIsErased(const uint8_t* rawPage);

}  // namespace orvik::sim::inspect
