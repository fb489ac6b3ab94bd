#include "sim/player_json.h"

#include <nlohmann/json.hpp>

namespace orvik::sim {
namespace {

using nlohmann::json;

constexpr int kFormat = 1;

std::string HexBytes(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

template <size_t N>
std::array<uint8_t, N> BytesFromHex(const std::string& text, const char* what) {
  if (text.size() != 2 * N)
    throw std::runtime_error(std::string(what) + " must be " + std::to_string(N) + " bytes of hex");
  std::array<uint8_t, N> bytes{};
  for (size_t i = 0; i < N; ++i) {
    size_t used = 0;
    unsigned long value = std::stoul(text.substr(2 * i, 2), &used, 16);
    if (used != 2) throw std::runtime_error(std::string(what) + " is not hex");
    bytes[i] = static_cast<uint8_t>(value);
  }
  return bytes;
}

// A value of the object, or the fallback when the key is absent.
template <typename T>
T Get(const json& object, const char* key, T fallback) {
  auto found = object.find(key);
  if (found == object.end()) return fallback;
  return found->get<T>();
}

json FaultsToJson(const FaultConfig& faults) {
  json eraseFailures = json::array();
  for (const auto& [block, after] : faults.eraseFailures)
    eraseFailures.push_back({{"block", block}, {"after", after}});
  json weakPages = json::array();
  for (const auto& [page, after] : faults.weakPages)
    weakPages.push_back({{"page", page}, {"after", after}});
  json transfers = json::array();
  for (const TransferFault& fault : faults.transferFaults)
    transfers.push_back({{"transfer", fault.transfer},
                         {"kind", TransferFaultKindName(fault.kind)},
                         {"delayMs", fault.delayMs},
                         {"error", fault.error}});
  return {{"eraseFailures", eraseFailures},
          {"weakPages", weakPages},
          {"readBitFlipProbability", faults.readBitFlipProbability},
          {"transferFaults", transfers},
          {"powerCutAfterTransfer", faults.powerCutAfterTransfer}};
}

FaultConfig FaultsFromJson(const json& object) {
  FaultConfig faults;
  for (const json& entry : Get(object, "eraseFailures", json::array()))
    faults.eraseFailures[entry.at("block").get<uint32_t>()] = Get<uint32_t>(entry, "after", 0);
  for (const json& entry : Get(object, "weakPages", json::array()))
    faults.weakPages[entry.at("page").get<uint32_t>()] = Get<uint32_t>(entry, "after", 0);
  faults.readBitFlipProbability = Get(object, "readBitFlipProbability", 0.0);
  if (faults.readBitFlipProbability < 0.0 || faults.readBitFlipProbability > 1.0)
    throw std::runtime_error("readBitFlipProbability must lie between 0 and 1");
  for (const json& entry : Get(object, "transferFaults", json::array())) {
    TransferFault fault;
    fault.transfer = entry.at("transfer").get<uint64_t>();
    if (fault.transfer == 0) throw std::runtime_error("transfer numbers start at 1");
    if (!TransferFaultKindFromName(entry.at("kind").get<std::string>(), &fault.kind))
      throw std::runtime_error("unknown transfer fault kind " + entry.at("kind").dump());
    fault.delayMs = Get(entry, "delayMs", fault.delayMs);
    fault.error = Get(entry, "error", fault.error);
    faults.transferFaults.push_back(fault);
  }
  faults.powerCutAfterTransfer = Get<uint64_t>(object, "powerCutAfterTransfer", 0);
  return faults;
}

json CardToJson(const CardConfig& card) {
  json card_json = {{"present", card.present},
                    {"slot", card.slot},
                    {"capacityBlocks", card.capacityBlocks},
                    {"cid", HexBytes(card.cid.data(), card.cid.size())},
                    {"ocr", card.ocr},
                    {"eraseGroupBlocks", card.eraseGroupBlocks},
                    {"attribute", card.attribute},
                    {"statusWord", card.statusWord},
                    {"failingCommands", card.failingCommands},
                    {"failureStatus", card.failureStatus}};
  if (card.csd) card_json["csd"] = HexBytes(card.csd->data(), card.csd->size());
  return card_json;
}

CardConfig CardFromJson(const json& object) {
  CardConfig card;
  card.present = Get(object, "present", card.present);
  card.slot = Get(object, "slot", card.slot);
  card.capacityBlocks = Get(object, "capacityBlocks", card.capacityBlocks);
  if (object.contains("cid"))
    card.cid = BytesFromHex<18>(object.at("cid").get<std::string>(), "cid");
  if (object.contains("csd"))
    card.csd = BytesFromHex<16>(object.at("csd").get<std::string>(), "csd");
  card.ocr = Get(object, "ocr", card.ocr);
  card.eraseGroupBlocks = Get(object, "eraseGroupBlocks", card.eraseGroupBlocks);
  card.attribute = Get(object, "attribute", card.attribute);
  card.statusWord = Get(object, "statusWord", card.statusWord);
  for (const json& code : Get(object, "failingCommands", json::array()))
    card.failingCommands.insert(code.get<uint8_t>());
  card.failureStatus = Get(object, "failureStatus", card.failureStatus);
  return card;
}

json DriverToJson(const DriverConfig& driver) {
  return {{"statusWord", driver.statusWord},
          {"recoveryStatusWord", driver.recoveryStatusWord},
          {"statusReturnsNoData", driver.statusReturnsNoData},
          {"versionWord", driver.versionWord},
          {"chipId", driver.chipId},
          {"reconfigureRefusals", driver.reconfigureRefusals},
          {"refuseOpen", driver.refuseOpen}};
}

DriverConfig DriverFromJson(const json& object) {
  DriverConfig driver;
  driver.statusWord = Get(object, "statusWord", driver.statusWord);
  driver.recoveryStatusWord = Get(object, "recoveryStatusWord", driver.recoveryStatusWord);
  driver.statusReturnsNoData = Get(object, "statusReturnsNoData", driver.statusReturnsNoData);
  driver.versionWord = Get(object, "versionWord", driver.versionWord);
  driver.chipId = Get(object, "chipId", driver.chipId);
  driver.reconfigureRefusals = Get(object, "reconfigureRefusals", driver.reconfigureRefusals);
  driver.refuseOpen = Get(object, "refuseOpen", driver.refuseOpen);
  return driver;
}

json BusToJson(const BusTiming& bus) {
  return {{"enabled", bus.enabled},
          {"transferMicros", bus.transferMicros},
          {"byteNanos", bus.byteNanos},
          {"controlMicros", bus.controlMicros}};
}

BusTiming BusFromJson(const json& object) {
  BusTiming bus;
  bus.enabled = Get(object, "enabled", bus.enabled);
  bus.transferMicros = Get(object, "transferMicros", bus.transferMicros);
  bus.byteNanos = Get(object, "byteNanos", bus.byteNanos);
  bus.controlMicros = Get(object, "controlMicros", bus.controlMicros);
  return bus;
}

// The decision alone: the count of plug-ins lives only as long as the
// process, so that loading a player and saving it again (every command
// does, and a refused one must leave the folder as it was) changes no byte.
json StartToJson(const StartRecord& started) {
  return {{"mode", StartModeName(started.mode)}, {"reason", started.reason}};
}

StartRecord StartFromJson(const json& object) {
  StartRecord started;
  const std::string mode = Get(object, "mode", std::string(StartModeName(started.mode)));
  if (mode == StartModeName(StartMode::kRecovery))
    started.mode = StartMode::kRecovery;
  else if (mode != StartModeName(StartMode::kNormal))
    throw std::runtime_error("unknown start mode \"" + mode + "\"");
  started.reason = Get(object, "reason", started.reason);
  return started;
}

}  // namespace

const char* StartModeName(StartMode mode) {
  return mode == StartMode::kRecovery ? "recovery" : "normal";
}

const char* TransferFaultKindName(TransferFault::Kind kind) {
  switch (kind) {
    case TransferFault::Kind::kError:
      return "error";
    case TransferFault::Kind::kShort:
      return "short";
    case TransferFault::Kind::kStall:
      return "stall";
    case TransferFault::Kind::kLate:
      return "late";
    case TransferFault::Kind::kDisconnect:
      return "disconnect";
  }
  return "?";
}

bool TransferFaultKindFromName(const std::string& name, TransferFault::Kind* kind) {
  for (auto candidate :
       {TransferFault::Kind::kError, TransferFault::Kind::kShort, TransferFault::Kind::kStall,
        TransferFault::Kind::kLate, TransferFault::Kind::kDisconnect}) {
    if (name == TransferFaultKindName(candidate)) {
      *kind = candidate;
      return true;
    }
  }
  return false;
}

std::string PlayerConfigToJson(const PlayerConfig& config) {
  FlashIdCodes codes = config.idCodes ? *config.idCodes : DefaultIdCodes(config.flashType);
  json extra = json::array();
  for (const auto& [tag, value] : config.extraInfoItems) extra.push_back({tag, value});
  json root = {
      {"format", kFormat},
      {"flash",
       {{"type", config.flashType},
        {"maker", codes.maker},
        {"device", codes.device},
        {"factoryBadBlocks", config.factoryBadBlocks}}},
      {"firmware",
       {{"infoTag0", config.infoTag0},
        {"dccVersion", config.dccVersion},
        {"infoTag2", config.infoTag2},
        {"extraInfoItems", extra},
        {"powerWord", config.powerWord},
        {"chipRevision", config.chipRevision}}},
      {"device",
       {{"instance", config.instance},
        {"recoveryMode", config.recoveryMode},
        {"factoryStart", config.factoryStart}}},
      {"start", StartToJson(config.started)},
      {"bus", BusToJson(config.bus)},
      {"driver", DriverToJson(config.driver)},
      {"card", CardToJson(config.card)},
      {"faults", FaultsToJson(config.faults)},
      {"seed", config.seed},
  };
  return root.dump(2) + "\n";
}

bool PlayerConfigFromJson(const std::string& text, PlayerConfig* config, std::string* error) {
  try {
    json root = json::parse(text);
    if (!root.is_object()) throw std::runtime_error("not a JSON object");
    if (Get(root, "format", kFormat) != kFormat)
      throw std::runtime_error("unknown format " + root.at("format").dump());
    PlayerConfig result;
    json flash = Get(root, "flash", json::object());
    result.flashType = Get(flash, "type", result.flashType);
    if (!IsValidFlashType(result.flashType))
      throw std::runtime_error("flash type " + std::to_string(result.flashType) + " unknown");
    if (flash.contains("maker") || flash.contains("device")) {
      FlashIdCodes codes = DefaultIdCodes(result.flashType);
      codes.maker = Get(flash, "maker", codes.maker);
      codes.device = Get(flash, "device", codes.device);
      result.idCodes = codes;
    }
    result.factoryBadBlocks = Get(flash, "factoryBadBlocks", result.factoryBadBlocks);
    json firmware = Get(root, "firmware", json::object());
    result.infoTag0 = Get(firmware, "infoTag0", result.infoTag0);
    result.dccVersion = Get(firmware, "dccVersion", result.dccVersion);
    result.infoTag2 = Get(firmware, "infoTag2", result.infoTag2);
    for (const json& item : Get(firmware, "extraInfoItems", json::array()))
      result.extraInfoItems.emplace_back(item.at(0).get<uint32_t>(), item.at(1).get<uint32_t>());
    result.powerWord = Get(firmware, "powerWord", result.powerWord);
    result.chipRevision = Get(firmware, "chipRevision", result.chipRevision);
    json device = Get(root, "device", json::object());
    result.instance = Get(device, "instance", result.instance);
    result.recoveryMode = Get(device, "recoveryMode", result.recoveryMode);
    // Players saved before the startup check existed were all taken to
    // start: they keep doing so until they hold a whole startup copy.
    result.factoryStart = Get(device, "factoryStart", true);
    result.started = StartFromJson(Get(root, "start", json::object()));
    result.bus = BusFromJson(Get(root, "bus", json::object()));
    result.driver = DriverFromJson(Get(root, "driver", json::object()));
    result.card = CardFromJson(Get(root, "card", json::object()));
    result.faults = FaultsFromJson(Get(root, "faults", json::object()));
    result.seed = Get(root, "seed", result.seed);
    *config = std::move(result);
    return true;
  } catch (const std::exception& failure) {
    if (error) *error = std::string("player.json: ") + failure.what();
    return false;
  }
}

}  // namespace orvik::sim
