// What the `orvik sim` commands that change a player's folder share: the
// folder they work on, the player as the JSON result shows it, and saving.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "commands/context.h"
#include "sim/player.h"

namespace orvik::tool {

std::string PlayerDir(const CommandContext& context);

// Object name, flash, factory bad blocks, card, mode and how it starts.
nlohmann::json PlayerJson(const sim::Player& player, const std::string& dir);

// Saves the player into its folder; fails (ToolError) when it cannot.
void SavePlayer(const sim::Player& player, const std::string& dir);

}  // namespace orvik::tool
