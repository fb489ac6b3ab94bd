// What a host can ask the player through the library: driver words,
// description, chip, power, flash type and geometry, and the card in its
// slot with its registers.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/events.h"
#include "orvik/orvik.h"

namespace orvik::tool {

struct DeviceFacts {
  DEVICE_STATUS status = DEVICE_STATUS_FAILED;
  std::optional<uint32_t> deviceVersion;
  std::optional<_USER_DATA> userData;
  // The description items (tag, value), read with the device-information
  // command; empty when it could not be read.
  std::vector<std::pair<uint32_t, uint32_t>> description;
  bool descriptionRead = false;
  uint32_t chipModel = 0;  // OrvikGetChipId(1)
  uint32_t chipId = 0;     // OrvikGetChipId(0)
  std::optional<uint32_t> power;

  std::optional<uint32_t> DescriptionValue(uint32_t tag) const;
};

DeviceFacts QueryDevice(Events& console);

struct FlashFacts {
  bool answered = false;
  uint32_t type = FLASH_TYPE_UNKNOWN;
  uint32_t pagesPerBlock = 0;
  uint32_t blockCount = 0;
  uint32_t logicalBlockCount = 0;
  uint32_t BlockBytes() const { return pagesPerBlock * 512; }
  uint64_t DataBytes() const { return uint64_t{blockCount} * BlockBytes(); }
  bool Known() const { return answered && type < FLASH_TYPE_UNKNOWN; }
};

// OrvikGetFlashSizes and the type's geometry.
FlashFacts QueryFlash(Events& console);
// The geometry of a type index (zeros for 36 and above).
FlashFacts FlashGeometry(uint32_t type);

struct CardFacts {
  uint8_t drive = 0;
  bool detected = false;  // the detect succeeded with a capacity above 0
  uint8_t detectStatus = 0;
  uint32_t capacityBlocks = 0;
  uint8_t attribute = 0;
  uint8_t eraseGroupBlocks = 0;
  std::optional<uint16_t> statusWord;
  std::optional<_MMC_CID> cid;
  std::optional<_MMC_CSD> csd;
  std::optional<uint32_t> ocr;
};

CardFacts QueryCard(Events& console, uint8_t drive, bool registers);
// The card's capacity, erase group, attribute, status word and registers,
// one field a line (for a card that was detected).
void ShowCardDetails(Events& console, const CardFacts& card);

nlohmann::json ToJson(const DeviceFacts& facts);
nlohmann::json ToJson(const FlashFacts& facts);
nlohmann::json ToJson(const CardFacts& facts);

const char* DeviceStatusText(DEVICE_STATUS status);
std::string Hex(uint64_t value, int digits);
std::string HexBytes(const uint8_t* bytes, size_t count);
std::string MegaBytes(uint64_t bytes);

// Fields of the card registers that people look for.
struct CidFields {
  uint8_t manufacturer = 0;
  std::string product;
  uint32_t serial = 0;
};
CidFields DecodeCid(const _MMC_CID& cid);
// Capacity in bytes from the CSD (C_SIZE, C_SIZE_MULT, READ_BL_LEN).
uint64_t CsdCapacityBytes(const _MMC_CSD& csd);

}  // namespace orvik::tool
