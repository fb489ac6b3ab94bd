// The flash type table.
#include "protocol/flash_types.h"

namespace orvik::protocol {

// Type 12 has 9126 blocks (not 9216): the value the player's firmware uses.
const FlashTypeDescriptor kFlashTypes[kFlashTypeCount] = {
    {0, kPageSize, kDataSize, 8, 256, 250},
    {1, kPageSize, kDataSize, 8, 512, 250},
    {2, kPageSize, kDataSize, 8, 512, 250},
    {3, kPageSize, kDataSize, 16, 1024, 1000},
    {4, kPageSize, kDataSize, 32, 1024, 1000},
    {5, kPageSize, kDataSize, 32, 2048, 2000},
    {6, kPageSize, kDataSize, 32, 3072, 3000},
    {7, kPageSize, kDataSize, 32, 4096, 4000},
    {8, kPageSize, kDataSize, 32, 5120, 5000},
    {9, kPageSize, kDataSize, 32, 6144, 6000},
    {10, kPageSize, kDataSize, 32, 7168, 7000},
    {11, kPageSize, kDataSize, 32, 8192, 8000},
    {12, kPageSize, kDataSize, 32, 9126, 9000},
    {13, kPageSize, kDataSize, 32, 10240, 10000},
    {14, kPageSize, kDataSize, 32, 11264, 11000},
    {15, kPageSize, kDataSize, 32, 12288, 12000},
    {16, kPageSize, kDataSize, 32, 13312, 13000},
    {17, kPageSize, kDataSize, 32, 14336, 14000},
    {18, kPageSize, kDataSize, 32, 15360, 15000},
    {19, kPageSize, kDataSize, 32, 16384, 16000},
    {20, kPageSize, kDataSize, 32, 17408, 17000},
    {21, kPageSize, kDataSize, 32, 18432, 18000},
    {22, kPageSize, kDataSize, 32, 19456, 19000},
    {23, kPageSize, kDataSize, 32, 20480, 20000},
    {24, kPageSize, kDataSize, 32, 21504, 21000},
    {25, kPageSize, kDataSize, 32, 22528, 22000},
    {26, kPageSize, kDataSize, 32, 23552, 23000},
    {27, kPageSize, kDataSize, 32, 24576, 24000},
    {28, kPageSize, kDataSize, 32, 25600, 25000},
    {29, kPageSize, kDataSize, 32, 26624, 26000},
    {30, kPageSize, kDataSize, 32, 27648, 27000},
    {31, kPageSize, kDataSize, 32, 28672, 28000},
    {32, kPageSize, kDataSize, 32, 29696, 29000},
    {33, kPageSize, kDataSize, 32, 30720, 30000},
    {34, kPageSize, kDataSize, 32, 31744, 31000},
    {35, kPageSize, kDataSize, 32, 32768, 32000},
};

const FlashTypeDescriptor* FlashTypeFor(uint32_t typeIndex) {
  return typeIndex <= kLastFlashType ? &kFlashTypes[typeIndex] : nullptr;
}

uint32_t FirstZoneBlocks(uint32_t typeIndex) {
  if (typeIndex <= 1) return 256;
  if (typeIndex == 2) return 512;
  return 1024;
}

}  // namespace orvik::protocol
