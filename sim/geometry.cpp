#include "sim/geometry.h"

#include <array>
#include <stdexcept>

#include "orvik/orvik.h"

namespace orvik::sim {
namespace {

// Types 0..2: 8-page blocks of 256-byte chips; type 3: 16-page blocks;
// types 4..35: 32-page blocks, 1024 blocks per 16 MB step (type 12 is a
// chip with 9126 blocks).
constexpr std::array<FlashGeometry, kFlashTypeCount> MakeTable() {
  std::array<FlashGeometry, kFlashTypeCount> table{};
  table[0] = {8, 256};
  table[1] = {8, 512};
  table[2] = {8, 512};
  table[3] = {16, 1024};
  table[4] = {32, 1024};
  table[5] = {32, 2048};
  for (uint32_t type = 6; type < kFlashTypeCount; ++type) table[type] = {32, (type - 3) * 1024};
  table[12] = {32, 9126};
  return table;
}

constexpr std::array<FlashGeometry, kFlashTypeCount> kGeometry = MakeTable();

struct MakerCode {
  uint8_t device;
  uint32_t type;
};
constexpr std::array<MakerCode, 5> kStandardMakerCodes{
    {{0xE6, 3}, {0x73, 4}, {0x75, 5}, {0x76, 7}, {0x79, 11}}};

}  // namespace

bool IsValidFlashType(uint32_t type) { return type < kFlashTypeCount; }

FlashGeometry GeometryOfFlashType(uint32_t type) {
  if (!IsValidFlashType(type)) throw std::out_of_range("flash type out of range");
  return kGeometry[type];
}

bool UsesHalfPages(uint32_t type) { return type <= 2; }

FlashIdCodes DefaultIdCodes(uint32_t type) {
  if (type == 3) return {0, 2};
  if (type >= 4 && type < kFlashTypeCount) return {0, static_cast<uint8_t>((type - 3) * 4)};
  return {0, 0};
}

uint32_t FlashTypeForIdCodes(FlashIdCodes codes) {
  if (codes.maker != 0) {
    for (const MakerCode& entry : kStandardMakerCodes)
      if (entry.device == codes.device) return entry.type;
    return FLASH_TYPE_UNKNOWN;
  }
  if (codes.device == 2) return 3;
  if (codes.device != 0 && codes.device % 4 == 0 && codes.device <= 128)
    return codes.device / 4u + 3u;
  return FLASH_TYPE_UNKNOWN;
}

}  // namespace orvik::sim
