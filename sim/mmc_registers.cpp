#include "sim/mmc_registers.h"

#include <cstddef>

namespace orvik::sim {
namespace {

// Sets bits [high..low] of a 128-bit register stored most significant
// byte first.
void SetBits(std::array<uint8_t, 16>& reg, unsigned high, unsigned low, uint32_t value) {
  for (unsigned bit = low; bit <= high; ++bit) {
    unsigned byte = 15 - bit / 8;
    uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if ((value >> (bit - low)) & 1u)
      reg[byte] = static_cast<uint8_t>(reg[byte] | mask);
    else
      reg[byte] = static_cast<uint8_t>(reg[byte] & ~mask);
  }
}

uint32_t GetBits(const std::array<uint8_t, 16>& reg, unsigned high, unsigned low) {
  uint32_t value = 0;
  for (unsigned bit = high + 1; bit-- > low;) {
    unsigned byte = 15 - bit / 8;
    value = (value << 1) | ((reg[byte] >> (bit % 8)) & 1u);
  }
  return value;
}

void SealWithCrc(std::array<uint8_t, 16>& reg) {
  reg[15] = static_cast<uint8_t>((CardCrc7(reg.data(), 15) << 1) | 1u);
}

}  // namespace

uint8_t CardCrc7(const uint8_t* bytes, size_t length) {
  uint8_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t data = bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint8_t>(crc << 1);
      if (((data ^ crc) & 0x80) != 0) crc ^= 0x09;
      data = static_cast<uint8_t>(data << 1);
    }
  }
  return static_cast<uint8_t>(crc & 0x7F);
}

std::array<uint8_t, 18> DefaultCardCid(uint32_t serial) {
  std::array<uint8_t, 16> reg{};
  SetBits(reg, 127, 120, 0x00);    // maker
  SetBits(reg, 119, 104, 0x5353);  // OEM "SS"
  const char name[] = "SIMCRD";
  for (unsigned i = 0; i < 6; ++i) SetBits(reg, 103 - 8 * i, 96 - 8 * i, uint8_t(name[i]));
  SetBits(reg, 55, 48, 0x10);  // product revision 1.0
  SetBits(reg, 47, 16, serial);
  SetBits(reg, 15, 8, 0x14);  // manufacturing date
  SealWithCrc(reg);
  std::array<uint8_t, 18> cid{};
  for (size_t i = 0; i < reg.size(); ++i) cid[i] = reg[i];
  return cid;
}

std::array<uint8_t, 16> CardCsdForCapacity(uint32_t capacityBlocks, uint8_t eraseGroupBlocks) {
  // capacity = (C_SIZE + 1) * 2^(C_SIZE_MULT + 2) blocks of 2^READ_BL_LEN bytes.
  unsigned multiplier = 0;
  while (multiplier < 7 && (capacityBlocks >> (multiplier + 2)) > 4096) ++multiplier;
  uint32_t units = capacityBlocks >> (multiplier + 2);
  uint32_t cSize = units == 0 ? 0 : (units > 4096 ? 4095 : units - 1);
  uint32_t group = eraseGroupBlocks == 0 ? 1 : (eraseGroupBlocks > 32 ? 32 : eraseGroupBlocks);

  std::array<uint8_t, 16> csd{};
  SetBits(csd, 127, 126, 1);     // CSD structure 1.1
  SetBits(csd, 125, 122, 3);     // system version field: 3.x
  SetBits(csd, 119, 112, 0x26);  // access time
  SetBits(csd, 103, 96, 0x2A);   // 20 MHz
  SetBits(csd, 95, 84, 0x0F5);   // command classes
  SetBits(csd, 83, 80, 9);       // 512-byte read blocks
  SetBits(csd, 79, 79, 1);       // partial reads
  SetBits(csd, 73, 62, cSize);
  SetBits(csd, 61, 50, 0xFFF);  // supply currents
  SetBits(csd, 49, 47, multiplier);
  SetBits(csd, 46, 42, 0);          // erase group size - 1
  SetBits(csd, 41, 37, group - 1);  // erase group multiplier - 1
  SetBits(csd, 28, 26, 4);          // write speed factor
  SetBits(csd, 25, 22, 9);          // 512-byte write blocks
  SealWithCrc(csd);
  return csd;
}

uint64_t CardCapacityFromCsd(const std::array<uint8_t, 16>& csd) {
  uint64_t cSize = GetBits(csd, 73, 62);
  unsigned multiplier = GetBits(csd, 49, 47);
  unsigned blockLength = GetBits(csd, 83, 80);
  uint64_t bytes = (cSize + 1) << (multiplier + 2 + blockLength);
  return bytes / 512;
}

}  // namespace orvik::sim
