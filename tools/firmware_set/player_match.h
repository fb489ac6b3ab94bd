// The players a firmware set is for, as its manifest may name them, and the
// comparison with the player at hand.
//
//   "players": {
//     "flashTypes": [5, 6],                               flash types (0..35)
//     "deviceVersions": {"min": "0x0100", "max": "0x01FF"},  device version word
//     "chipIds": ["0xFFFE1002"]                           chip identifiers
//   }
//
// Every part is optional, and so is each bound of deviceVersions; numbers
// may be JSON numbers or "0x" hex texts.  A player fits when it fits every
// part given.  The player's side comes from OrvikGetFlashSizes,
// OrvikGetDeviceVersion and OrvikGetChipId(0).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace orvik::tool {

struct PlayerRequirements {
  std::vector<uint32_t> flashTypes;  // empty: any
  std::optional<uint32_t> minDeviceVersion;
  std::optional<uint32_t> maxDeviceVersion;
  std::vector<uint32_t> chipIds;  // empty: any

  bool NamesDeviceVersion() const { return minDeviceVersion || maxDeviceVersion; }
  bool NamesAnything() const {
    return !flashTypes.empty() || NamesDeviceVersion() || !chipIds.empty();
  }
};

struct PlayerRequirementsRead {
  std::optional<PlayerRequirements> requirements;
  std::string field;    // under "players", e.g. "deviceVersions.min", when refused
  std::string problem;  // what is wrong with it
};

// The "players" object of a manifest; never throws.
PlayerRequirementsRead ParsePlayerRequirements(const nlohmann::json& players);

struct PlayerFacts {
  uint32_t flashType = 0;
  std::optional<uint32_t> deviceVersion;  // nullopt: the player did not say
  std::optional<uint32_t> chipId;
};

struct ModelMismatch {
  std::string part;    // "flashType", "deviceVersion", "chipId"
  std::string forSet;  // "flash types 5, 6"
  std::string player;  // "flash type 7"
};

// Every part the player does not fit, in the order above; empty when it fits.
std::vector<ModelMismatch> MatchPlayer(const PlayerRequirements& set, const PlayerFacts& player);

// "this set is for flash types 5, 6; the player has flash type 7", the
// parts joined by ", and ".
std::string MismatchText(const std::vector<ModelMismatch>& mismatches);

nlohmann::json ToJson(const PlayerRequirements& requirements);

}  // namespace orvik::tool
