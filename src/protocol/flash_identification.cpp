// Flash identification and the card-size mapping.
#include "protocol/flash_identification.h"

#include "protocol/command_frame.h"
#include "protocol/flash_types.h"

namespace orvik::protocol {

uint32_t FlashTypeForIdentification(uint8_t maker, uint8_t device) {
  if (maker != 0) {
    switch (device) {
      case 0xE6:
        return 3;
      case 0x73:
        return 4;
      case 0x75:
        return 5;
      case 0x76:
        return 7;
      case 0x79:
        return 11;
      default:
        return FLASH_TYPE_UNKNOWN;
    }
  }
  // Maker 0: the device code is the capacity in units of 4 MB.
  if (device == 2) return 3;
  if (device != 0 && device % 4 == 0 && device / 4 <= 32) return device / 4u + 3u;
  return FLASH_TYPE_UNKNOWN;
}

bool FlashReadId(uint32_t* present, uint32_t* flashType, uint8_t chip, CommandForm form) {
  CommandFrame frame(2);
  frame.SetWord(0, FlashCommandWord(CMD_FLASH_READ_ID, DIR_FROM_DEVICE, form));
  frame.SetWord(1, chip);
  uint8_t reply[6] = {};
  if (!ExchangeFrame(frame, reply, sizeof reply)) return false;
  uint32_t status = GetWord24(&reply[0]);
  uint32_t codes = GetWord24(&reply[3]);
  if (present != nullptr) *present = status == 0 ? 1 : 0;
  if (flashType != nullptr)
    *flashType =
        FlashTypeForIdentification(static_cast<uint8_t>(codes), static_cast<uint8_t>(codes >> 8));
  return true;
}

uint32_t MmcSizeToFlashType(uint32_t capacityBlocks) {
  uint64_t mib = (uint64_t{capacityBlocks} * 512) >> 20;
  if (mib <= 1) return 0;
  if (mib <= 2) return 1;
  if (mib <= 4) return 2;
  if (mib <= 8) return 3;
  if (mib <= 16) return 4;
  if (mib <= 32) return 5;
  if (mib <= 64) return 7;
  if (mib <= 128) return 11;
  if (mib <= 256) return 19;
  if (mib <= 512) return 35;
  return FLASH_TYPE_UNKNOWN;
}

}  // namespace orvik::protocol
