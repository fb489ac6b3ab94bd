// Error-correction code and logical block-address field of a data page's
// redundant area.
//
// Every data page written to the flash carries, for each 256-byte half of its
// data, a 3-byte single-bit-correcting Hamming code (16 line parities and 6
// column parities), and twice the 16-bit logical block-address word with an
// even parity bit.  The library only generates these; it never checks them.
#pragma once

#include <cstdint>

namespace orvik::protocol {

// Writes the 3 ECC bytes of the 256 bytes at data into out3:
//   out3[0] = ~(LP7  .. LP0),   out3[1] = ~(LP15 .. LP8),
//   out3[2] = ~(CP5 .. CP0 in bits 7..2, bits 1..0 = 0).
// LP(2k) is the parity of every byte whose index has bit k clear, LP(2k+1)
// of every byte whose index has bit k set; CP0..CP5 are the column parities
// of the XOR of all bytes.
void ComputeEcc256(const uint8_t* data, uint8_t* out3);

// The block-address word of a logical block (only the low 10 bits count):
// low byte 0 0 0 1 0 BA9 BA8 BA7, high byte BA6 .. BA0 P, where P makes the
// whole word hold an even number of one bits.  Stored low byte first.
uint16_t EncodeBlockAddress(uint32_t logicalBlock);

}  // namespace orvik::protocol
