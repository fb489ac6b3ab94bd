#include "player/device_queries.h"

#include <fmt/format.h>

#include "host/host_internals.h"

namespace orvik::tool {
namespace {

// The player's description, read as the library reads it at open (the
// library keeps only the DCC version, so the tool asks once more, through
// the exported transfers, and reads the record with the library's reader).
void ReadDescription(Events& console, DeviceFacts& facts) {
  std::optional<std::vector<std::pair<uint32_t, uint32_t>>> items = host::ReadDeviceDescription();
  if (!items) {
    console.Step("device information exchange -> failed");
    return;
  }
  facts.descriptionRead = true;
  facts.description = std::move(*items);
  console.Step(fmt::format("device information exchange -> {} items", facts.description.size()));
}

}  // namespace

std::optional<uint32_t> DeviceFacts::DescriptionValue(uint32_t tag) const {
  for (const auto& [itemTag, value] : description)
    if (itemTag == tag) return value;
  return std::nullopt;
}

DeviceFacts QueryDevice(Events& console) {
  DeviceFacts facts;
  facts.status = OrvikGetDeviceStatus();
  console.Step(fmt::format("OrvikGetDeviceStatus() -> {}", static_cast<int>(facts.status)));
  ORVIK_ULONG version = 0;
  int versionRead = OrvikGetDeviceVersion(&version);
  console.Step(fmt::format("OrvikGetDeviceVersion() -> {}, version {:#x}", versionRead, version));
  if (versionRead == 1) facts.deviceVersion = version;
  _USER_DATA user{};
  int userRead = OrvikGetStatus(&user);
  console.Step(fmt::format("OrvikGetStatus() -> {}", userRead));
  if (userRead != 0) facts.userData = user;
  ReadDescription(console, facts);
  facts.chipModel = OrvikGetChipId(1);
  facts.chipId = OrvikGetChipId(0);
  console.Step(fmt::format("OrvikGetChipId(1) -> {}, OrvikGetChipId(0) -> {:#010x}",
                           facts.chipModel, facts.chipId));
  ORVIK_ULONG power = 0;
  ACCESS_DEVICE_STATUS powerAnswer = OrvikGetPowerStatus(&power);
  console.Step(fmt::format("OrvikGetPowerStatus() -> {}, power word {:#x}",
                           static_cast<int>(powerAnswer), power));
  if (powerAnswer == ACCESS_DEVICE_ANSWERED) facts.power = power;
  return facts;
}

FlashFacts FlashGeometry(uint32_t type) {
  FlashFacts facts;
  facts.type = type;
  if (const std::optional<host::FlashType> descriptor = host::FlashTypeOf(type)) {
    facts.pagesPerBlock = descriptor->pagesPerBlock;
    facts.blockCount = descriptor->blockCount;
    facts.logicalBlockCount = descriptor->logicalBlockCount;
  }
  return facts;
}

FlashFacts QueryFlash(Events& console) {
  ORVIK_ULONG type = FLASH_TYPE_UNKNOWN;
  ORVIK_ULONG failed = 0;
  ACCESS_DEVICE_STATUS answer = OrvikGetFlashSizes(&type, &failed);
  console.Step(fmt::format("OrvikGetFlashSizes() -> {}, type {}, failed {}",
                           static_cast<int>(answer), type, failed));
  FlashFacts facts = FlashGeometry(type);
  facts.answered = answer == ACCESS_DEVICE_ANSWERED;
  return facts;
}

CardFacts QueryCard(Events& console, uint8_t drive, bool registers) {
  CardFacts facts;
  facts.drive = drive;
  ORVIK_ULONG capacity = 0;
  int detected = OrvikMMCDetectMedia(drive, &capacity, &facts.detectStatus, &facts.attribute,
                                     &facts.eraseGroupBlocks);
  console.Step(fmt::format("OrvikMMCDetectMedia({}) -> {}, {} blocks, card status {:#x}", drive,
                           detected, capacity, facts.detectStatus));
  facts.capacityBlocks = capacity;
  facts.detected = detected == 1 && capacity > 0;
  if (!facts.detected || !registers) return facts;

  unsigned short word = 0;
  if (OrvikMMCReadStatus(drive, &word) == 1) facts.statusWord = word;
  _MMC_CID cid{};
  unsigned char cardStatus = 0;
  if (OrvikMMCReadCID(drive, &cid, &cardStatus) == 1) facts.cid = cid;
  _MMC_CSD csd{};
  if (OrvikMMCReadCSD(drive, &csd, &cardStatus) == 1) facts.csd = csd;
  ORVIK_ULONG ocr = 0;
  if (OrvikMMCReadOCR(drive, &ocr, &cardStatus) == 1) facts.ocr = ocr;
  console.Step(fmt::format("card registers: status {}, CID {}, CSD {}, OCR {}",
                           facts.statusWord ? "read" : "failed", facts.cid ? "read" : "failed",
                           facts.csd ? "read" : "failed", facts.ocr ? "read" : "failed"));
  return facts;
}

const char* DeviceStatusText(DEVICE_STATUS status) {
  switch (status) {
    case DEVICE_STATUS_FAILED:
      return "no answer";
    case DEVICE_STATUS_NORMAL:
      return "normal";
    case DEVICE_STATUS_RECOVERY:
      return "recovery";
    case DEVICE_STATUS_NO_DATA:
      return "no data";
  }
  return "unknown";
}

std::string Hex(uint64_t value, int digits) { return fmt::format("0x{:0{}X}", value, digits); }

std::string HexBytes(const uint8_t* bytes, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += fmt::format("{}{:02X}", i == 0 ? "" : " ", bytes[i]);
  return text;
}

std::string MegaBytes(uint64_t bytes) {
  if (bytes % (1024 * 1024) == 0) return fmt::format("{} MiB", bytes / (1024 * 1024));
  return fmt::format("{:.1f} MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

CidFields DecodeCid(const _MMC_CID& cid) {
  CidFields fields;
  fields.manufacturer = cid.bytes[0];
  for (int i = 3; i < 9; ++i) {
    char c = static_cast<char>(cid.bytes[i]);
    if (c >= 0x20 && c < 0x7F) fields.product += c;
  }
  fields.serial = uint32_t{cid.bytes[10]} << 24 | uint32_t{cid.bytes[11]} << 16 |
                  uint32_t{cid.bytes[12]} << 8 | cid.bytes[13];
  return fields;
}

uint64_t CsdCapacityBytes(const _MMC_CSD& csd) {
  const uint8_t* b = csd.bytes;  // bit 127 is the top bit of byte 0
  auto bits = [b](int high, int low) {
    uint64_t value = 0;
    for (int bit = high; bit >= low; --bit) {
      int index = 15 - bit / 8;
      value = value << 1 | ((b[index] >> (bit % 8)) & 1);
    }
    return value;
  };
  const uint64_t readBlockLength = bits(83, 80);
  const uint64_t size = bits(73, 62);
  const uint64_t multiplier = bits(49, 47);
  return (size + 1) * (uint64_t{1} << (multiplier + 2)) * (uint64_t{1} << readBlockLength);
}

nlohmann::json ToJson(const DeviceFacts& facts) {
  nlohmann::json out;
  out["status"] = {{"code", static_cast<int>(facts.status)},
                   {"text", DeviceStatusText(facts.status)}};
  out["deviceVersion"] = facts.deviceVersion ? nlohmann::json(*facts.deviceVersion) : nullptr;
  if (facts.userData)
    out["userData"] = {{"ownerFlag", facts.userData->ownerFlag},
                       {"formatStatus", facts.userData->formatStatus},
                       {"blockingFlag", facts.userData->blockingFlag},
                       {"reservedWord", facts.userData->reservedWord}};
  else
    out["userData"] = nullptr;
  nlohmann::json items = nlohmann::json::array();
  for (const auto& [tag, value] : facts.description)
    items.push_back({{"tag", tag}, {"value", value}});
  out["description"] = facts.descriptionRead ? items : nlohmann::json(nullptr);
  std::optional<uint32_t> dcc = facts.DescriptionValue(1);
  out["dccVersion"] = dcc ? nlohmann::json(*dcc) : nullptr;
  out["chip"] = {{"model", facts.chipModel},
                 {"identifier", facts.chipId},
                 {"vendorId", facts.chipId >> 16},
                 {"modelCode", facts.chipId & 0xFFFF}};
  out["power"] = facts.power ? nlohmann::json(*facts.power) : nullptr;
  return out;
}

nlohmann::json ToJson(const FlashFacts& facts) {
  nlohmann::json out = {
      {"answered", facts.answered}, {"type", facts.type}, {"known", facts.Known()}};
  if (facts.type < FLASH_TYPE_UNKNOWN) {
    out["pagesPerBlock"] = facts.pagesPerBlock;
    out["blockCount"] = facts.blockCount;
    out["logicalBlockCount"] = facts.logicalBlockCount;
    out["blockBytes"] = facts.BlockBytes();
    out["dataBytes"] = facts.DataBytes();
  }
  return out;
}

nlohmann::json ToJson(const CardFacts& facts) {
  nlohmann::json out = {
      {"drive", facts.drive}, {"present", facts.detected}, {"detectStatus", facts.detectStatus}};
  if (!facts.detected) return out;
  out["capacityBlocks"] = facts.capacityBlocks;
  out["capacityBytes"] = uint64_t{facts.capacityBlocks} * 512;
  out["attribute"] = facts.attribute;
  out["eraseGroupBlocks"] = facts.eraseGroupBlocks;
  out["statusWord"] = facts.statusWord ? nlohmann::json(*facts.statusWord) : nullptr;
  if (facts.cid) {
    CidFields fields = DecodeCid(*facts.cid);
    out["cid"] = {{"bytes", HexBytes(facts.cid->bytes, 16)},
                  {"manufacturer", fields.manufacturer},
                  {"product", fields.product},
                  {"serial", fields.serial}};
  }
  if (facts.csd)
    out["csd"] = {{"bytes", HexBytes(facts.csd->bytes, 16)},
                  {"capacityBytes", CsdCapacityBytes(*facts.csd)}};
  out["ocr"] = facts.ocr ? nlohmann::json(*facts.ocr) : nullptr;
  return out;
}

void ShowCardDetails(Events& console, const CardFacts& card) {
  console.Field("capacity", fmt::format("{} blocks ({})", card.capacityBlocks,
                                        MegaBytes(uint64_t{card.capacityBlocks} * 512)));
  console.Field("erase group", fmt::format("{} blocks", card.eraseGroupBlocks));
  console.Field("attribute", Hex(card.attribute, 2));
  console.Field("status word", card.statusWord ? Hex(*card.statusWord, 4) : "not read");
  if (card.cid) {
    CidFields fields = DecodeCid(*card.cid);
    console.Field("CID", HexBytes(card.cid->bytes, 16));
    console.Field("", fmt::format("manufacturer {}, product \"{}\", serial {}",
                                  Hex(fields.manufacturer, 2), fields.product, fields.serial));
  }
  if (card.csd) {
    console.Field("CSD", HexBytes(card.csd->bytes, 16));
    console.Field("", "capacity by CSD " + MegaBytes(CsdCapacityBytes(*card.csd)));
  }
  if (card.ocr)
    console.Field("OCR",
                  Hex(*card.ocr, 8) + ((*card.ocr & 0x80000000u) ? " (powered up)" : " (busy)"));
}

}  // namespace orvik::tool
