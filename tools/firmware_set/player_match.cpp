#include "firmware_set/player_match.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

namespace orvik::tool {
namespace {

using nlohmann::json;

constexpr uint32_t kFlashTypeCount = 36;  // types 0..35; 36 is "unknown"

// A JSON number or a "0x" hex text of 1 to 8 digits.
std::optional<uint32_t> Word(const json& value) {
  if (value.is_number_unsigned()) {
    const uint64_t number = value.get<uint64_t>();
    if (number > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(number);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string text = value.get<std::string>();
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return std::nullopt;
  uint32_t word = 0;
  const char* end = text.data() + text.size();
  auto [stop, failure] = std::from_chars(text.data() + 2, end, word, 16);
  if (failure != std::errc() || stop != end) return std::nullopt;
  return word;
}

std::string Hex(uint32_t value, int digits) { return fmt::format("0x{:0{}X}", value, digits); }

template <class Each>
std::string List(const std::vector<uint32_t>& values, Each text) {
  std::string out;
  for (uint32_t value : values) out += (out.empty() ? "" : ", ") + text(value);
  return out;
}

PlayerRequirementsRead Refused(std::string field, std::string problem) {
  PlayerRequirementsRead read;
  read.field = std::move(field);
  read.problem = std::move(problem);
  return read;
}

// Each field's reader takes the field into set, or returns its refusal.
std::optional<PlayerRequirementsRead> ReadFlashTypes(const std::string& key, const json& value,
                                                     PlayerRequirements& set) {
  if (!value.is_array() || value.empty())
    return Refused(key, "must be a list of flash types, e.g. [7]");
  for (size_t i = 0; i < value.size(); ++i) {
    if (!value[i].is_number_unsigned() || value[i].get<uint64_t>() >= kFlashTypeCount)
      return Refused(fmt::format("{}[{}]", key, i),
                     fmt::format("must be a flash type, 0 to {}", kFlashTypeCount - 1));
    set.flashTypes.push_back(value[i].get<uint32_t>());
  }
  return std::nullopt;
}

std::optional<PlayerRequirementsRead> ReadDeviceVersions(const std::string& key, const json& value,
                                                         PlayerRequirements& set) {
  if (!value.is_object() || value.empty())
    return Refused(key, "must be an object with min and/or max, e.g. {\"min\": \"0x0100\"}");
  for (const auto& [bound, word] : value.items()) {
    if (bound != "min" && bound != "max")
      return Refused(key + "." + bound, "unknown field (the fields are: max, min)");
    std::optional<uint32_t> version = Word(word);
    if (!version)
      return Refused(key + "." + bound,
                     "must be a device version word, a number or hex such as \"0x0100\"");
    (bound == "min" ? set.minDeviceVersion : set.maxDeviceVersion) = version;
  }
  if (set.minDeviceVersion && set.maxDeviceVersion && *set.minDeviceVersion > *set.maxDeviceVersion)
    return Refused(key, fmt::format("min {} is above max {}", Hex(*set.minDeviceVersion, 4),
                                    Hex(*set.maxDeviceVersion, 4)));
  return std::nullopt;
}

std::optional<PlayerRequirementsRead> ReadChipIds(const std::string& key, const json& value,
                                                  PlayerRequirements& set) {
  if (!value.is_array() || value.empty())
    return Refused(key, "must be a list of chip identifiers, e.g. [\"0xFFFE1002\"]");
  for (size_t i = 0; i < value.size(); ++i) {
    std::optional<uint32_t> chip = Word(value[i]);
    if (!chip)
      return Refused(fmt::format("{}[{}]", key, i),
                     "must be a chip identifier, a number or hex such as \"0xFFFE1002\"");
    set.chipIds.push_back(*chip);
  }
  return std::nullopt;
}

}  // namespace

PlayerRequirementsRead ParsePlayerRequirements(const json& players) {
  if (!players.is_object())
    return Refused("", "must be an object with flashTypes, deviceVersions and/or chipIds");
  PlayerRequirements set;
  for (const auto& [key, value] : players.items()) {
    std::optional<PlayerRequirementsRead> refused;
    if (key == "flashTypes")
      refused = ReadFlashTypes(key, value, set);
    else if (key == "deviceVersions")
      refused = ReadDeviceVersions(key, value, set);
    else if (key == "chipIds")
      refused = ReadChipIds(key, value, set);
    else
      return Refused(key, "unknown field (the fields are: chipIds, deviceVersions, flashTypes)");
    if (refused) return *refused;
  }
  PlayerRequirementsRead read;
  read.requirements = set;
  return read;
}

std::vector<ModelMismatch> MatchPlayer(const PlayerRequirements& set, const PlayerFacts& player) {
  std::vector<ModelMismatch> mismatches;
  if (!set.flashTypes.empty() && std::find(set.flashTypes.begin(), set.flashTypes.end(),
                                           player.flashType) == set.flashTypes.end())
    mismatches.push_back(
        {"flashType",
         fmt::format("flash type{} {}", set.flashTypes.size() == 1 ? "" : "s",
                     List(set.flashTypes, [](uint32_t type) { return std::to_string(type); })),
         fmt::format("flash type {}", player.flashType)});
  if (set.NamesDeviceVersion()) {
    std::string range;
    if (set.minDeviceVersion && set.maxDeviceVersion)
      range = fmt::format("device versions {} to {}", Hex(*set.minDeviceVersion, 4),
                          Hex(*set.maxDeviceVersion, 4));
    else if (set.minDeviceVersion)
      range = fmt::format("device versions {} and above", Hex(*set.minDeviceVersion, 4));
    else
      range = fmt::format("device versions up to {}", Hex(*set.maxDeviceVersion, 4));
    if (!player.deviceVersion)
      mismatches.push_back({"deviceVersion", range, "no device version to read"});
    else if ((set.minDeviceVersion && *player.deviceVersion < *set.minDeviceVersion) ||
             (set.maxDeviceVersion && *player.deviceVersion > *set.maxDeviceVersion))
      mismatches.push_back(
          {"deviceVersion", range, "device version " + Hex(*player.deviceVersion, 4)});
  }
  if (!set.chipIds.empty()) {
    const std::string chips =
        fmt::format("chip identifier{} {}", set.chipIds.size() == 1 ? "" : "s",
                    List(set.chipIds, [](uint32_t chip) { return Hex(chip, 8); }));
    if (!player.chipId)
      mismatches.push_back({"chipId", chips, "no chip identifier to read"});
    else if (std::find(set.chipIds.begin(), set.chipIds.end(), *player.chipId) == set.chipIds.end())
      mismatches.push_back({"chipId", chips, "chip identifier " + Hex(*player.chipId, 8)});
  }
  return mismatches;
}

std::string MismatchText(const std::vector<ModelMismatch>& mismatches) {
  std::string text;
  for (const ModelMismatch& mismatch : mismatches)
    text += fmt::format("{}this set is for {}; the player has {}", text.empty() ? "" : ", and ",
                        mismatch.forSet, mismatch.player);
  return text;
}

nlohmann::json ToJson(const PlayerRequirements& requirements) {
  json out = json::object();
  if (!requirements.flashTypes.empty()) out["flashTypes"] = requirements.flashTypes;
  if (requirements.minDeviceVersion)
    out["deviceVersions"]["min"] = Hex(*requirements.minDeviceVersion, 4);
  if (requirements.maxDeviceVersion)
    out["deviceVersions"]["max"] = Hex(*requirements.maxDeviceVersion, 4);
  if (!requirements.chipIds.empty()) {
    json chips = json::array();
    for (uint32_t chip : requirements.chipIds) chips.push_back(Hex(chip, 8));
    out["chipIds"] = chips;
  }
  return out;
}

}  // namespace orvik::tool
