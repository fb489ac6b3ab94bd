// The settings of a player as the text of its player.json.
#pragma once

#include <string>

#include "sim/player_config.h"

namespace orvik::sim {

std::string PlayerConfigToJson(const PlayerConfig& config);
// Missing keys take their defaults; wrong types or values fail with *error.
bool PlayerConfigFromJson(const std::string& text, PlayerConfig* config, std::string* error);

// "normal" or "recovery".
const char* StartModeName(StartMode mode);
const char* TransferFaultKindName(TransferFault::Kind kind);
bool TransferFaultKindFromName(const std::string& name, TransferFault::Kind* kind);

}  // namespace orvik::sim
