// What the operations that change a simulated player's folder share: the
// player as the JSON result shows it, and saving it.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/player.h"

namespace orvik::tool {

// Object name, flash, factory bad blocks, card and mode of the player.
nlohmann::json PlayerJson(const sim::Player& player, const std::string& dir);

// Saves the player into its folder; fails (ToolError) when it cannot.
void SavePlayer(const sim::Player& player, const std::string& dir);

}  // namespace orvik::tool
