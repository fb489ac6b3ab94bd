// The flash type table.
#include "protocol/flash_types.h"

namespace orvik::protocol {

// Each row's comment gives the data capacity the type stands for (blocks ×
// pages × 512 bytes), the flash identification that yields it ("ID": a
// maker's device code; "code": maker 0's device code, the capacity in 4 MB
// units) and the card sizes that map to it.  Type 12 has 9126 blocks (not
// 9216): the value the player's firmware uses.
const FlashTypeDescriptor kFlashTypes[kFlashTypeCount] = {
    {0, kPageSize, kDataSize, 8, 256, 250},        // 1 MB; cards up to 1 MB
    {1, kPageSize, kDataSize, 8, 512, 250},        // 2 MB; cards 2 MB
    {2, kPageSize, kDataSize, 8, 512, 250},        // 2 MB; cards 3-4 MB
    {3, kPageSize, kDataSize, 16, 1024, 1000},     // 8 MB; ID 0xE6 or code 2; cards 5-8 MB
    {4, kPageSize, kDataSize, 32, 1024, 1000},     // 16 MB; ID 0x73 or code 4; cards 9-16 MB
    {5, kPageSize, kDataSize, 32, 2048, 2000},     // 32 MB; ID 0x75 or code 8; cards 17-32 MB
    {6, kPageSize, kDataSize, 32, 3072, 3000},     // 48 MB; code 12
    {7, kPageSize, kDataSize, 32, 4096, 4000},     // 64 MB; ID 0x76 or code 16; cards 33-64 MB
    {8, kPageSize, kDataSize, 32, 5120, 5000},     // 80 MB; code 20
    {9, kPageSize, kDataSize, 32, 6144, 6000},     // 96 MB; code 24
    {10, kPageSize, kDataSize, 32, 7168, 7000},    // 112 MB; code 28
    {11, kPageSize, kDataSize, 32, 8192, 8000},    // 128 MB; ID 0x79 or code 32; cards 65-128 MB
    {12, kPageSize, kDataSize, 32, 9126, 9000},    // 142.6 MB (149520384 bytes); code 36
    {13, kPageSize, kDataSize, 32, 10240, 10000},  // 160 MB; code 40
    {14, kPageSize, kDataSize, 32, 11264, 11000},  // 176 MB; code 44
    {15, kPageSize, kDataSize, 32, 12288, 12000},  // 192 MB; code 48
    {16, kPageSize, kDataSize, 32, 13312, 13000},  // 208 MB; code 52
    {17, kPageSize, kDataSize, 32, 14336, 14000},  // 224 MB; code 56
    {18, kPageSize, kDataSize, 32, 15360, 15000},  // 240 MB; code 60
    {19, kPageSize, kDataSize, 32, 16384, 16000},  // 256 MB; code 64; cards 129-256 MB
    {20, kPageSize, kDataSize, 32, 17408, 17000},  // 272 MB; code 68
    {21, kPageSize, kDataSize, 32, 18432, 18000},  // 288 MB; code 72
    {22, kPageSize, kDataSize, 32, 19456, 19000},  // 304 MB; code 76
    {23, kPageSize, kDataSize, 32, 20480, 20000},  // 320 MB; code 80
    {24, kPageSize, kDataSize, 32, 21504, 21000},  // 336 MB; code 84
    {25, kPageSize, kDataSize, 32, 22528, 22000},  // 352 MB; code 88
    {26, kPageSize, kDataSize, 32, 23552, 23000},  // 368 MB; code 92
    {27, kPageSize, kDataSize, 32, 24576, 24000},  // 384 MB; code 96
    {28, kPageSize, kDataSize, 32, 25600, 25000},  // 400 MB; code 100
    {29, kPageSize, kDataSize, 32, 26624, 26000},  // 416 MB; code 104
    {30, kPageSize, kDataSize, 32, 27648, 27000},  // 432 MB; code 108
    {31, kPageSize, kDataSize, 32, 28672, 28000},  // 448 MB; code 112
    {32, kPageSize, kDataSize, 32, 29696, 29000},  // 464 MB; code 116
    {33, kPageSize, kDataSize, 32, 30720, 30000},  // 480 MB; code 120
    {34, kPageSize, kDataSize, 32, 31744, 31000},  // 496 MB; code 124
    {35, kPageSize, kDataSize, 32, 32768, 32000},  // 512 MB; code 128; cards 257-512 MB
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
